# The compression libraries as one target, votar_codecs: zlib, liblzma,
# libzstd and libbz2, with their include folders and libraries for whichever
# build this is.
#   Native: the system's own (zlib1g-dev, liblzma-dev, libzstd-dev, libbz2-dev).
#   Win32: static archives only, so that VoTar40.dll imports nothing new.
#     zlib is libz-mingw-w64-dev's libz.a, named by path (-lz would take the
#     import library of zlib1.dll); the other three are built by
#     cmake/deps.sh into VOTAR_DEPS_DIR.
add_library(votar_codecs INTERFACE)
if(WIN32)
  # make.sh builds them into BUILD/deps/i686, beside BUILD/win32.
  set(VOTAR_DEPS_DIR "${CMAKE_BINARY_DIR}/../deps/i686" CACHE PATH
      "Where cmake/deps.sh installed liblzma, libzstd and libbz2 for i686")
  get_filename_component(deps "${VOTAR_DEPS_DIR}" ABSOLUTE)
  set(libs "${CMAKE_FIND_ROOT_PATH}/lib/libz.a")
  foreach(name lzma zstd bz2)
    list(APPEND libs "${deps}/lib/lib${name}.a")
  endforeach()
  foreach(lib IN LISTS libs)
    if(NOT EXISTS "${lib}")
      message(FATAL_ERROR "${lib} missing: install libz-mingw-w64-dev and run "
                          "bash cmake/deps.sh BUILD (make.sh does both)")
    endif()
  endforeach()
  target_include_directories(votar_codecs INTERFACE "${deps}/include")
  target_link_libraries(votar_codecs INTERFACE ${libs})
  # lzma.h declares DLL imports unless told the library is static. (bzlib.h
  # includes <windows.h> and declares its functions WINAPI, as built.)
  target_compile_definitions(votar_codecs INTERFACE LZMA_API_STATIC)
else()
  find_package(ZLIB REQUIRED)
  find_package(LibLZMA REQUIRED)
  find_package(BZip2 REQUIRED)
  find_path(ZSTD_INCLUDE_DIR zstd.h REQUIRED)
  find_library(ZSTD_LIBRARY zstd REQUIRED)
  target_include_directories(votar_codecs INTERFACE ${ZSTD_INCLUDE_DIR})
  target_link_libraries(votar_codecs INTERFACE
    ZLIB::ZLIB LibLZMA::LibLZMA ${ZSTD_LIBRARY} BZip2::BZip2)
endif()
