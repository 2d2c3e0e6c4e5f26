#pragma once

// The host side of in-process components: find a class's module through the per-user store,
// load it and create an object from its class factory.

#include <string>
#include <string_view>

#include "platform/com/ComBase.h"

namespace platform::com {

// Where class registrations live inside the per-user store (the per-user form of
// HKEY_CLASSES_ROOT).
inline constexpr std::string_view kClassesRoot = "Software\\Classes";

// Resolves a ProgID (following "CurVer" once for a version-independent one) or a "{CLSID}" text
// to a class id registered in the store at `storePath`.
HRESULT CLSIDFromProgIDInStore(const std::string& storePath, std::string_view progIdOrClsid,
                               CLSID& out);

// Creates an object of the class named by `progIdOrClsid`: reads the module path of
// "CLSID\{clsid}\InprocServer32" from the store, loads the module (once per process, kept loaded
// while it reports that it cannot be unloaded), asks DllGetClassObject for its class factory
// and creates the object with interface `riid`. `storePath` empty means the user's store.
HRESULT CoCreateInstanceFromStore(std::string_view progIdOrClsid, REFIID riid, void** ppv,
                                  const std::string& storePath = {});

// Calls DllCanUnloadNow of every module loaded above and unloads those that answer S_OK.
// Returns how many were unloaded.
int CoFreeUnusedLibraries();

}  // namespace platform::com
