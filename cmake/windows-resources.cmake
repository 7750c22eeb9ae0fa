# The exe's resources on Windows (data/orlemaz.rc.in), compiled by the resource compiler
# (windres with MinGW-w64) into the exe: its icon, drawn at build time from data/orlemaz.svg by
# rsvg-convert at each size below and packed by icotool, its version information and its
# application manifest (data/orlemaz.exe.manifest.in). Sets ORLEMAZ_ICO, the icon file, which
# the installer shows too.
enable_language(RC)
find_program(ORLEMAZ_RSVG_CONVERT rsvg-convert)
find_program(ORLEMAZ_ICOTOOL icotool)
if(NOT ORLEMAZ_RSVG_CONVERT OR NOT ORLEMAZ_ICOTOOL)
  message(FATAL_ERROR "The exe's icon needs rsvg-convert (librsvg) and icotool (icoutils)")
endif()

# 16 to 48 pixels for lists, title bars and the taskbar, 64 and 128 for Explorer's larger
# views, 256 for its largest, stored as PNG as Windows reads that size.
# Cached for the wine check (scripts/build-windows --check), which looks for each in the exe.
set(ORLEMAZ_ICON_SIZES 16 24 32 48 64 128 256 CACHE INTERNAL "The sizes of the exe's icon")
set(ORLEMAZ_ICO ${CMAKE_CURRENT_BINARY_DIR}/orlemaz.ico)
set(pictures "")
set(icotool_args "")
foreach(size ${ORLEMAZ_ICON_SIZES})
  set(picture ${CMAKE_CURRENT_BINARY_DIR}/icon/orlemaz-${size}.png)
  add_custom_command(OUTPUT ${picture}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/icon
    COMMAND ${ORLEMAZ_RSVG_CONVERT} -w ${size} -h ${size} -o ${picture}
      ${CMAKE_CURRENT_SOURCE_DIR}/data/orlemaz.svg
    DEPENDS data/orlemaz.svg
    VERBATIM)
  list(APPEND pictures ${picture})
  if(size EQUAL 256)
    list(APPEND icotool_args --raw=${picture})
  else()
    list(APPEND icotool_args ${picture})
  endif()
endforeach()
add_custom_command(OUTPUT ${ORLEMAZ_ICO}
  COMMAND ${ORLEMAZ_ICOTOOL} --create --output=${ORLEMAZ_ICO} ${icotool_args}
  DEPENDS ${pictures}
  VERBATIM)

set(ORLEMAZ_MANIFEST ${CMAKE_CURRENT_BINARY_DIR}/orlemaz.exe.manifest)
set(ORLEMAZ_RC ${CMAKE_CURRENT_BINARY_DIR}/orlemaz.rc)
configure_file(data/orlemaz.exe.manifest.in ${ORLEMAZ_MANIFEST} @ONLY)
configure_file(data/orlemaz.rc.in ${ORLEMAZ_RC} @ONLY)
# The resource compiler reads the icon and the manifest, which CMake does not scan for.
set_source_files_properties(${ORLEMAZ_RC} PROPERTIES OBJECT_DEPENDS "${ORLEMAZ_ICO};${ORLEMAZ_MANIFEST}")
target_sources(orlemaz PRIVATE ${ORLEMAZ_RC})
