# Windows version resources of VoTar40.dll and votar.exe, made with windres
# from the project's version.
if(WIN32)
  enable_language(RC)
  function(votar_version_resource target description file_name file_type)
    set(VERSION_COMMAS "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0")
    set(rc ${CMAKE_BINARY_DIR}/${target}_version.rc)
    configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
  endfunction()
  votar_version_resource(VoTar40 "TAR archive module" VoTar40.dll VFT_DLL)
  votar_version_resource(votar "votar, a TAR archiver" votar.exe VFT_APP)
endif()
