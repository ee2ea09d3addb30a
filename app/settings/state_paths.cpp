#include "state_paths.h"

#include <string>

#include "app_settings.h"
#include "list_file.h"
#include "pause_file.h"
#include "state_folder.h"

bool FindProgramPaths() {
    const std::string& folder = StateFolder();
    if (folder.empty()) return false;
    listPath = folder + kListFileName;
    iniPath = folder + kSettingsFileName;
    pausePath = folder + kPauseFileName;
    return true;
}
