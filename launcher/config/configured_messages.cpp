#include "config/configured_messages.h"

#include "base/errors.h"
#include "config/launcher_config.h"

void showConfigError(int32_t entryId, const char* argument) {
  showError(replaceFirstPlaceholder(getConfigString(entryId), argument).c_str());
}

void fatalConfigError(int32_t entryId, const char* argument) {
  showConfigError(entryId, argument);
  exitWithCode(1);
}

void fatalMessage(int32_t wideMessageId) { fatalErrorW(getConfigWString(wideMessageId).c_str()); }

void fatalInternalError(InternalError error) {
  fatalConfigError(entry::kInternalErrorText, internalErrorCode(error).c_str());
}

std::string configuredErrorCaption() { return config::errorCaption(); }

std::u16string configuredWizardCaption() { return config::wizardCaption(); }
