// messages.h: the installer's message box texts and its error box.
#ifndef WHIRLO_SETUP_MESSAGES_H
#define WHIRLO_SETUP_MESSAGES_H

#include <string>

#include "setup_resources.h"
#include "setup_ui.h"

namespace setup {

inline constexpr char SETUP_TITLE[] = TEXT_SETUP_TITLE;
inline constexpr char SHORT_TITLE[] = "Whirlo-32 Setup";
inline constexpr char HELP_FILE[] = "whirlo32.hlp";
inline constexpr char HELP_KEYWORD[] = "Setup";

inline constexpr char CREATE_QUESTION[] =
    "The animation path specified does not exist, create?";
inline constexpr char VIEWER_QUESTION[] =
    "You have changed the default value of the animation viewer. This could "
    "make Whirlo-32 incapible of animating. Change to Mozilla?";
inline constexpr char INSTALLED_MESSAGE[] = WHIRLO_PRODUCT
    " has been installed! Please see the Whirlo32.DOC or "
    "Whirlo32.WRI files in your anim. path for more information.";
inline constexpr char CANCELLED_MESSAGE[] =
    "Error: Whirlo has not been installed.";
inline constexpr char CANNOT_RUN_MESSAGE[] = "Error, setup cannot be executed.";

/// The text of string resource `id` as the resource script holds it;
/// empty for an unknown id.
std::string string_table_text(int id);

/// Shows string `id` in a stop box titled "Whirlo-32 V1.2 Setup" with an
/// OK button.
void show_setup_error(SetupUi& ui, int id);

}  // namespace setup

#endif  // WHIRLO_SETUP_MESSAGES_H
