// config_names.h: the configuration file shared by the installer and the
// CGI program: its name, its one section and its keys.
#ifndef WHIRLO_CONFIG_CONFIG_NAMES_H
#define WHIRLO_CONFIG_CONFIG_NAMES_H

namespace config {

inline constexpr char kFileName[] = "pelk.ini";
inline constexpr char kSection[] = "Whirl";         // as the installer writes it
inline constexpr char kReadSection[] = "WHIRL";     // as the CGI program asks
inline constexpr char kAnimationPath[] = "Animation Path";
inline constexpr char kAllowOnly[] = "Allow Only";
inline constexpr char kAllowViewer[] = "Allow Viewer";
inline constexpr char kCgiWinPath[] = "CGI-WIN Path";

// Values come through a 255-character buffer; paths through 256 bytes.
inline constexpr int kValueCapacity = 255;
inline constexpr int kPathCapacity = 256;

}  // namespace config

#endif
