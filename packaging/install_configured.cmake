# Runs at install time, so that the paths written into the configuration,
# the server snippets, the units and the man pages follow the prefix given
# to `cmake --install`. The prefix /usr keeps its configuration in /etc, as
# packages do; any other prefix keeps it in PREFIX/etc, and pelk.ini in the
# programs' folder, where whirlo32 looks first.
#
# Set by the caller: whirlo_source, whirlo_work (a build folder),
# whirlo_cgidir, whirlo_sbindir, whirlo_datadir, whirlo_docdir (relative to
# the prefix), VERSION, MAINTAINER, MAINTAINER_EMAIL.

string(REGEX REPLACE "(.)/+$" "\\1" prefix "${CMAKE_INSTALL_PREFIX}")
if(prefix STREQUAL "/usr")
  set(SYSCONFDIR /etc)
  set(pelk_folder /etc)
else()
  set(SYSCONFDIR "${prefix}/etc")
  set(pelk_folder "${prefix}/${whirlo_cgidir}")
endif()
set(CGIDIR "${prefix}/${whirlo_cgidir}")
set(SBINDIR "${prefix}/${whirlo_sbindir}")
set(DATADIR "${prefix}/${whirlo_datadir}")
set(DOCDIR "${prefix}/${whirlo_docdir}")
set(SYSTEMDDIR "${prefix}/lib/systemd/system")
set(PELK_INI "${pelk_folder}/pelk.ini")

# place(TEMPLATE FOLDER [GZIP]): TEMPLATE (relative to whirlo_source, its
# name without ".in") with the @...@ paths filled in, installed into FOLDER.
function(place template folder)
  get_filename_component(name "${template}" NAME)
  string(REGEX REPLACE "\\.in$" "" name "${name}")
  set(file "${whirlo_work}/${name}")
  configure_file("${whirlo_source}/${template}" "${file}" @ONLY)
  if(ARGV2 STREQUAL "GZIP")
    # -n: no name or time stamp, so the package is reproducible.
    execute_process(COMMAND gzip -9nf "${file}" RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "gzip failed on ${file}")
    endif()
    set(file "${file}.gz")
  endif()
  file(INSTALL DESTINATION "${folder}" TYPE FILE FILES "${file}")
endfunction()

place(pelk.ini.in "${pelk_folder}")
place(lighttpd/50-whirlo32.conf.in "${SYSCONFDIR}/lighttpd/conf-available")
place(apache2/whirlo32.conf.in "${SYSCONFDIR}/apache2/conf-available")
place(nginx/whirlo32.conf.in "${SYSCONFDIR}/nginx/snippets")
foreach(unit whirlo32-fastcgi.socket whirlo32-fastcgi.service
        wincgi-bridge.socket wincgi-bridge.service)
  place(systemd/${unit}.in "${SYSTEMDDIR}")
endforeach()
foreach(page whirlo32.8 whirlo32-fastcgi.8 wincgi-bridge.8 whirlo32-setup.8)
  place(man/${page}.in "${prefix}/share/man/man8" GZIP)
endforeach()
place(debian/changelog.in "${DOCDIR}" GZIP)
place(debian/copyright "${DOCDIR}")
