#include "control/run/SaveFolderChoice.h"

#include <new>

#include "control/buffers/PicvoxLog.h"
#include "control/run/PageInput.h"
#include "platform/com/UserStore.h"

namespace picvox::run {

using platform::com::UserStore;

std::string WithoutTrailingSeparator(std::string folder) {
    if (!folder.empty() && (folder.back() == '/' || folder.back() == '\\'))
        folder.pop_back();
    return folder;
}

std::optional<std::string> ChooseSaveFolder(PagePort& page, const std::string& inputName,
                                            const std::string& storePath) {
    std::string remembered;
    UserStore store;
    const bool storeOpen = store.load(storePath);
    if (!storeOpen) {
        WriteLog(LogTag::CPicvoxer, "前回参照フォルダーレジストリーキー生成失敗");
    } else if (auto value = store.value(kDestFolderKey, kDestFolderValue);
               value && value->size() < kDestFolderBytes) {
        remembered = *value;
    }

    std::optional<std::string> picked = page.chooseFolder(remembered);
    if (!picked || picked->empty()) {
        WriteLog(LogTag::CPicvoxer, "MainProcessThread 保存先指定でユーザーキャンセル");
        return std::nullopt;
    }
    try {
        std::string chosen = *picked;
        if (storeOpen) {
            const bool stored = UserStore::update(storePath, [&](UserStore& s) {
                return s.setValue(kDestFolderKey, kDestFolderValue, chosen);
            });
            if (!stored)
                WriteLog(LogTag::CPicvoxer, "参照フォルダーレジストリーキー書き込み失敗");
        }
        chosen = WithoutTrailingSeparator(std::move(chosen));
        SetPageInput(page, inputName, chosen, InputTemplate::Folder);
        return chosen;
    } catch (const std::bad_alloc&) {
        WriteLog(LogTag::CPicvoxer, "保存フォルダー文字列メモリー確保失敗");
        return std::nullopt;
    }
}

}  // namespace picvox::run
