#include "messages.h"

namespace setup {

std::string string_table_text(int id) {
  switch (id) {
    case IDS_INVALID_ANIMATION_PATH: return TEXT_INVALID_ANIMATION_PATH;
    case IDS_INVALID_CGI_PATH: return TEXT_INVALID_CGI_PATH;
    case IDS_CANNOT_COPY: return TEXT_CANNOT_COPY;
    case IDS_NO_MEMORY: return TEXT_NO_MEMORY;
    case IDS_CANNOT_CREATE_PATH: return TEXT_CANNOT_CREATE_PATH;
  }
  return std::string();
}

void show_setup_error(SetupUi& ui, int id) {
  ui.message_box(ui.load_string(id), SETUP_TITLE, Buttons::OK, Icon::STOP);
}

}  // namespace setup
