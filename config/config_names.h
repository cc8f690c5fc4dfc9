// config_names.h: the configuration file shared by the installer and the
// CGI program: its name, its one section and its keys.
#ifndef WHIRLO_CONFIG_CONFIG_NAMES_H
#define WHIRLO_CONFIG_CONFIG_NAMES_H

namespace config {

inline constexpr char FILE_NAME[] = "pelk.ini";
inline constexpr char SECTION[] = "Whirl";       // as the installer writes it
inline constexpr char READ_SECTION[] = "WHIRL";  // as the CGI program asks
inline constexpr char ANIMATION_PATH[] = "Animation Path";
inline constexpr char ALLOW_ONLY[] = "Allow Only";
inline constexpr char ALLOW_VIEWER[] = "Allow Viewer";
inline constexpr char CGI_WIN_PATH[] = "CGI-WIN Path";

// Values come through a 255-character buffer; paths through 256 bytes.
inline constexpr int VALUE_CAPACITY = 255;
inline constexpr int PATH_CAPACITY = 256;

}  // namespace config

#endif  // WHIRLO_CONFIG_CONFIG_NAMES_H
