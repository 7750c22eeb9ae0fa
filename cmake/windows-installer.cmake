# Builds the Windows installer from data/orlemaz.wxs with wixl, for release VERSION, from the
# archive's files in FILES and the exe's icon ICON, into OUTPUT. Run as a script:
#   cmake -D VERSION=1.0.0 -D FILES=<folder> -D ICON=<file.ico> -D OUTPUT=<file.msi> -P <this>
# scripts/build-windows runs it for the release, and for a lower version to prove upgrades.

# Names the product across all its releases, so that a release finds the one it replaces.
# Never change it.
set(UPGRADE_CODE 179C9E69-F583-4234-B789-B759228AA7EB)
# One product code per version, worked out from the upgrade code (a name-based UUID): a
# release rebuilt is still the same product.
string(UUID product_code NAMESPACE ${UPGRADE_CODE} NAME "${VERSION}" TYPE SHA1 UPPER)

find_program(WIXL wixl)
if(NOT WIXL)
  message(FATAL_ERROR "The installer needs wixl (Debian's wixl package, from msitools)")
endif()
# wixl takes the files' paths only relative, to the folder it runs in: here the root.
foreach(path FILES ICON OUTPUT)
  get_filename_component(absolute "${${path}}" ABSOLUTE)
  file(RELATIVE_PATH ${path} / "${absolute}")
endforeach()
execute_process(
  COMMAND ${WIXL} --arch x64 --output ${OUTPUT} -D Version=${VERSION}
    -D ProductCode=${product_code} -D UpgradeCode=${UPGRADE_CODE} -D Files=${FILES}
    -D Icon=${ICON} ${CMAKE_CURRENT_LIST_DIR}/../data/orlemaz.wxs
  WORKING_DIRECTORY /
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "wixl could not build /${OUTPUT}")
endif()
