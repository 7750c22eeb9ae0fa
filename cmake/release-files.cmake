# The files that carry the release's version and date: the manual page and the Debian-style
# changelog, gzipped as Debian installs them (-9, no name or time stamp, so that the package
# is the same from one build to the next), and the AppStream data. Sets ORLEMAZ_MANPAGE_GZ,
# ORLEMAZ_CHANGELOG_GZ and ORLEMAZ_METAINFO for the install rules.
set(ORLEMAZ_MAINTAINER "ORLEMAZ developers <orlemaz@korvante.org>" CACHE STRING
  "The maintainer named in the Debian package and its changelog")
execute_process(COMMAND date -u -R -d "${ORLEMAZ_RELEASE_DATE} 12:00"
  OUTPUT_VARIABLE ORLEMAZ_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "date could not read the release date ${ORLEMAZ_RELEASE_DATE}")
endif()
configure_file(data/orlemaz.6.in orlemaz.6 @ONLY)
configure_file(data/changelog.in changelog @ONLY)
set(ORLEMAZ_SCREENSHOT_URL "https://korvante.org/orlemaz/orlemaz.png" CACHE STRING
  "Where software centres find the picture of the window (docs/orlemaz.png)")
set(ORLEMAZ_METAINFO ${CMAKE_CURRENT_BINARY_DIR}/${ORLEMAZ_APP_ID}.metainfo.xml)
configure_file(data/metainfo.xml.in ${ORLEMAZ_METAINFO} @ONLY)

find_program(ORLEMAZ_GZIP gzip)
if(NOT ORLEMAZ_GZIP)
  message(FATAL_ERROR "gzip is needed to compress the manual page")
endif()
foreach(name orlemaz.6 changelog)
  add_custom_command(OUTPUT ${name}.gz
    COMMAND ${ORLEMAZ_GZIP} -9n -c ${name} > ${name}.gz
    DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/${name}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    VERBATIM)
endforeach()
add_custom_target(orlemaz_release_files ALL DEPENDS orlemaz.6.gz changelog.gz)
set(ORLEMAZ_MANPAGE_GZ ${CMAKE_CURRENT_BINARY_DIR}/orlemaz.6.gz)
set(ORLEMAZ_CHANGELOG_GZ ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
