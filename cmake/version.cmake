# Windows resources of VoTar40.dll and votar.exe, made with windres: the
# version of both from the project's version, and votar.exe's manifest.
if(WIN32)
  enable_language(RC)
  set(VERSION_COMMAS "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0")
  set(VERSION_DOTS "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")
  function(votar_version_resource target description file_name file_type)
    set(rc ${CMAKE_BINARY_DIR}/${target}_version.rc)
    configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
  endfunction()
  votar_version_resource(VoTar40 "TAR archive module" VoTar40.dll VFT_DLL)
  votar_version_resource(votar "votar, a TAR archiver" votar.exe VFT_APP)
  # The program alone runs in UTF-8 (RT_MANIFEST 1, the manifest Windows
  # reads when it starts a process): from Windows 10 version 1903 on, its
  # ANSI and OEM code pages are UTF-8; earlier versions ignore the setting
  # and keep the system's. The module takes the code page of whatever
  # process loads it.
  set(manifest ${CMAKE_BINARY_DIR}/votar.manifest)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/votar.manifest.in ${manifest} @ONLY)
  set(rc ${CMAKE_BINARY_DIR}/votar_manifest.rc)
  file(CONFIGURE OUTPUT ${rc} CONTENT "1 24 \"@manifest@\"\n" @ONLY)
  target_sources(votar PRIVATE ${rc})
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${manifest})
endif()
