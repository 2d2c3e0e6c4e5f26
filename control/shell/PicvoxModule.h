#pragma once

#include <string>

#include "platform/com/ComBase.h"
#include "platform/com/UserStore.h"

namespace picvox {

// The module's lock count: live control objects, LockServer(TRUE) calls and outside references
// to the class object. Module-wide by nature (DllCanUnloadNow answers for the whole module);
// kept in PicvoxModule.cpp alone.
void moduleLock();
void moduleUnlock();
long moduleLockCount();

// The class object of CPicvoxer (a static object; its references lock the module).
platform::com::IClassFactory& picvoxClassFactory();

// Writes the registration of the control and of its type library into `store`, with
// `modulePath` as the module's full path. False when the store refuses a key.
bool registerPicvox(platform::com::UserStore& store, const std::string& modulePath);
// Removes what registerPicvox wrote (the "CLSID" key itself stays).
void unregisterPicvox(platform::com::UserStore& store);

}  // namespace picvox
