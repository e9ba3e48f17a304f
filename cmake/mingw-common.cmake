# Shared by both mingw-w64 toolchains. The posix thread model gives std::thread and
# std::mutex; everything is linked statically so the binaries need only Windows' own DLLs.
set(CMAKE_C_COMPILER ${WHEEL_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${WHEEL_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${WHEEL_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${WHEEL_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# The .def names the exports undecorated; the fix-up to their stdcall symbols is intended.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -Wl,--enable-stdcall-fixup")
