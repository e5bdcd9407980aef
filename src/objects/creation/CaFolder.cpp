#include "objects/creation/CaFolder.h"

#include "frame/Log.h"
#include "platform/Platform.h"
#include "utils/Utils.h"

namespace zelmor {

namespace {
std::string homeFolder(const Utils& utils) {
    std::string home = utils.getEnvironmentVariable("ZELMOR_HOME");
    if (!home.empty()) return home;
    logDebug("ZELMOR_HOME not set \xE2\x80\x94 Using Windows defaults");
    for (const std::string& folder : platform::defaultInstallFolders()) {
        if (utils.pathExists(folder.c_str())) return folder;
    }
    return utils.getExecutableFolderPath();
}
}  // namespace

std::string caFolderPath(const Utils& utils) {
    const char separator = platform::pathSeparator();
    std::string folder = homeFolder(utils);
    folder += separator;
    folder += "ZelmorDSC";
    folder += separator;
    folder += "Certificates";
    logDebug("CA Folder: " + folder);
    return folder;
}

}  // namespace zelmor
