// validation.h: the checks that run before anything is installed.
#ifndef WHIRLO_SETUP_VALIDATION_H
#define WHIRLO_SETUP_VALIDATION_H

#include "setup_settings.h"
#include "setup_ui.h"

namespace setup {

/// Ends both directories in the platform's separator, proves each by
/// creating and deleting "~whl.tmp" in it (offering to create a missing
/// animation directory) and offers "Mozilla" for a viewer list without it.
/// True when the settings may be installed; false after saying why not.
/// An empty directory is refused.
bool validate_settings(SetupSettings& settings, SetupUi& ui);

}  // namespace setup

#endif  // WHIRLO_SETUP_VALIDATION_H
