# Where `cmake --install` puts the programs, relative to the install prefix.
# The programs' folder holds whirlo32 and the bridge's script names, so the
# bridge finds the program beside itself; it is not /usr/lib/cgi-bin, where
# Debian's stock server setups would run whirlo32 itself by its address.
# Files under /etc are placed by packaging/, which knows that the prefix
# /usr keeps its configuration in /etc.
set(WHIRLO_INSTALL_CGIDIR lib/whirlo32)
set(WHIRLO_INSTALL_SBINDIR sbin)
set(WHIRLO_INSTALL_DATADIR share/whirlo32)
set(WHIRLO_INSTALL_DOCDIR share/doc/whirlo32)

# Installs a symbolic link LINK (relative to the prefix) whose target is
# TARGET, a path relative to LINK's folder.
function(whirlo_install_symlink link target)
  install(CODE "
    set(link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${link}\")
    get_filename_component(folder \"\${link}\" DIRECTORY)
    file(MAKE_DIRECTORY \"\${folder}\")
    message(STATUS \"Installing: \${link} -> ${target}\")
    file(CREATE_LINK \"${target}\" \"\${link}\" SYMBOLIC)")
endfunction()
