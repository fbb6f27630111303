# The Windows resources: the version block and the palette bitmaps, compiled
# with windres into the files a Windows user or designer opens. A static
# library cannot carry resources for the program that links it, so they go
# into quorlink.dll when the library is built shared, and into quorlink.exe.
set(QUORLINK_BUILD_NUMBER 4)
set(QUORLINK_FILE_VERSION
    "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.${QUORLINK_BUILD_NUMBER}")
set(QUORLINK_PRODUCT_VERSION "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}")
set(QUORLINK_RC_DIR ${CMAKE_CURRENT_LIST_DIR})

if(WIN32)
  # The forms' windows (platform/windows/WinFormPresenter*) draw with these,
  # whatever a program linking the static library gets by default.
  target_link_libraries(quorlink PUBLIC user32 gdi32)
  enable_language(RC)
  function(quorlink_add_resources target filename filetype)
    string(REPLACE "." "," QUORLINK_RC_FILEVERSION "${QUORLINK_FILE_VERSION}")
    set(QUORLINK_RC_PRODUCTVERSION "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},0,0")
    set(QUORLINK_RC_FILETYPE ${filetype})
    set(QUORLINK_RC_FILENAME ${filename})
    get_filename_component(QUORLINK_RC_INTERNALNAME ${filename} NAME_WE)
    configure_file(${QUORLINK_RC_DIR}/quorlink.rc.in ${CMAKE_BINARY_DIR}/resources/${target}.rc @ONLY)
    target_sources(${target} PRIVATE ${CMAKE_BINARY_DIR}/resources/${target}.rc)
    set_property(SOURCE ${CMAKE_BINARY_DIR}/resources/${target}.rc APPEND PROPERTY OBJECT_DEPENDS
                 ${QUORLINK_RC_DIR}/TQUORCOMPORT.bmp ${QUORLINK_RC_DIR}/TQUORBLUETOOTH.bmp)
  endfunction()
  get_target_property(quorlink_type quorlink TYPE)
  if(quorlink_type STREQUAL "SHARED_LIBRARY")
    quorlink_add_resources(quorlink quorlink.dll VFT_DLL)
  endif()
  if(TARGET quorlink_cli)
    quorlink_add_resources(quorlink_cli quorlink.exe VFT_APP)
  endif()
else()
  # Regenerates the checked-in .bmp files from the library's drawings.
  add_executable(quorlink_write_palette_bitmaps EXCLUDE_FROM_ALL
                 ${QUORLINK_RC_DIR}/WritePaletteBitmaps.cpp)
  target_link_libraries(quorlink_write_palette_bitmaps PRIVATE quorlink)
  add_custom_target(palette_bitmaps
                    COMMAND quorlink_write_palette_bitmaps ${QUORLINK_RC_DIR}
                    COMMENT "Writing the palette bitmaps into ${QUORLINK_RC_DIR}")
endif()
