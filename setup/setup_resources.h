/* setup_resources.h: identifiers and texts shared by the installer's
   resource script and its code. Only preprocessor definitions, so that
   windres can read it too. */
#ifndef WHIRLO_SETUP_SETUP_RESOURCES_H
#define WHIRLO_SETUP_SETUP_RESOURCES_H

#include "text/product.h"

#define IDD_SETTINGS 101

#define IDC_HELP_BUTTON 3
#define IDC_CGI_DIRECTORY 1000
#define IDC_ANIMATION_DIRECTORY 1001
#define IDC_ALLOWED_REFERERS 1002
#define IDC_ANIMATING_VIEWERS 1003

#define IDS_INVALID_ANIMATION_PATH 5
#define IDS_INVALID_CGI_PATH 6
#define IDS_CANNOT_COPY 7
#define IDS_NO_MEMORY 8
#define IDS_CANNOT_CREATE_PATH 9

#define TEXT_SETUP_TITLE WHIRLO_PRODUCT " Setup"
#define TEXT_LABEL_CGI_DIRECTORY "Windows CGI Path :"
#define TEXT_LABEL_ANIMATION_DIRECTORY "Animations Path :"
#define TEXT_LABEL_ALLOWED_REFERERS "Allow only users referering from :"
#define TEXT_LABEL_ANIMATING_VIEWERS "Viewer that allows animation :"
#define TEXT_PLACEMENT_GROUP "PELK.INI placement"
#define TEXT_PLACEMENT_NOTE                                                   \
  "The PELK.INI will be placed in the CGI directory. To use the PELK.INI in " \
  "your windows directory, delete the one created in you CGI directory."

/* Message 7 ends in a blank and is shown without a file name. */
#define TEXT_INVALID_ANIMATION_PATH "Error : Invalid animation path."
#define TEXT_INVALID_CGI_PATH "Error : Invalid CGI-WIN path."
#define TEXT_CANNOT_COPY "Error : Cannot copy "
#define TEXT_NO_MEMORY "Error : Not enough memory avalible to run setup."
#define TEXT_CANNOT_CREATE_PATH "Error : Cannot create path."

#endif /* WHIRLO_SETUP_SETUP_RESOURCES_H */
