# Packages (scripts/package.sh): a .deb of the Linux programs, a .zip of the Windows ones; each
# with the example files and the documents an operator reads. The .deb also carries what a
# Debian system expects of every package (manual pages, copyright, changelog), so that lintian
# finds no error in it.
# The project's own folder, also when a build (the fuzz targets) includes it from another.
get_filename_component(zolt_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CPACK_PACKAGE_NAME zolt)
set(CPACK_PACKAGE_VENDOR "ZOLT")
set(CPACK_PACKAGE_CONTACT "ZOLT maintainers <zolt@example.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "flashes CDMA phones over serial ports, many at once")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(examples examples/ZOLT.ini examples/calibration.ini examples/settings.srp)

if(WIN32)
  install(TARGETS ZOLT zolt RUNTIME DESTINATION .)
  install(FILES ${examples} DESTINATION examples)
  install(FILES docs/windows-readme.txt DESTINATION . RENAME README.txt)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME zolt-${PROJECT_VERSION}-windows-x86_64)
  include(CPack)
  return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# A Debian revision: the package is ours, built from our own source, not a native Debian
# package, so its changelog is changelog.Debian.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "ZOLT is a service-station tool for CDMA mobile phones attached over
serial ports. One job runs on up to 32 phones at once: it backs up each
phone's calibration pages, writes the Boot, CP and Data sections of a ROM
image, restores and checks the calibration, or plays a script of database
writes.

This package holds the command-line program zolt and zolt-phone, a phone
simulator on pseudo-terminals for trying a job (zolt demo) without a phone.")

set(deb_version ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
set(deb_files ${CMAKE_BINARY_DIR}/debian)
file(MAKE_DIRECTORY ${deb_files})

# The date of the changelog entry and of the copyright: SOURCE_DATE_EPOCH when given, else the
# last commit's, so that the same source gives the same package bytes.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY ${zolt_root}
                  OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(commit_time MATCHES "^[0-9]+$")
    set(ENV{SOURCE_DATE_EPOCH} ${commit_time})
  endif()
endif()
string(TIMESTAMP deb_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
string(TIMESTAMP deb_year "%Y" UTC)

# gzip -9n: no name or time stamp in the header, the same bytes for the same input.
function(zolt_gzip input output)
  execute_process(COMMAND gzip -9n -c ${input} OUTPUT_FILE ${output} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cannot gzip ${input}")
  endif()
endfunction()

# The manual pages, their footer set to this version. Configuring again after a page changes
# keeps the .gz in step.
set(man_pages docs/man/zolt.1 docs/man/zolt-phone.1)
set(man_gz)
foreach(page IN LISTS man_pages)
  get_filename_component(name ${page} NAME)
  file(READ ${zolt_root}/${page} text)
  string(REGEX REPLACE "(^|\n)(\\.TH [^\n]*)\"ZOLT [^\"]*\"" "\\1\\2\"ZOLT ${PROJECT_VERSION}\"" text "${text}")
  file(WRITE ${deb_files}/${name} "${text}")
  zolt_gzip(${deb_files}/${name} ${deb_files}/${name}.gz)
  list(APPEND man_gz ${deb_files}/${name}.gz)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${zolt_root}/${page})
endforeach()

file(CONFIGURE OUTPUT ${deb_files}/changelog.Debian @ONLY CONTENT
"zolt (${deb_version}) unstable; urgency=low

  * Package zolt and zolt-phone with their manual pages, the documents and
    the examples.

 -- ${CPACK_PACKAGE_CONTACT}  ${deb_date}
")
zolt_gzip(${deb_files}/changelog.Debian ${deb_files}/changelog.Debian.gz)

# No licence has been granted for ZOLT: the copyright file says so rather than name one.
file(CONFIGURE OUTPUT ${deb_files}/copyright @ONLY CONTENT
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ZOLT
Upstream-Contact: ${CPACK_PACKAGE_CONTACT}

Files: *
Copyright: ${deb_year} ZOLT
License: proprietary
 All rights reserved.
")

install(TARGETS zolt zolt-phone RUNTIME DESTINATION bin)
install(FILES README.md docs/architecture.md docs/calibration-files.md docs/report.md docs/performance.md
        DESTINATION share/doc/zolt)
install(FILES ${deb_files}/copyright ${deb_files}/changelog.Debian.gz DESTINATION share/doc/zolt)
install(FILES ${examples} DESTINATION share/doc/zolt/examples)
install(FILES ${man_gz} DESTINATION share/man/man1)
include(CPack)
