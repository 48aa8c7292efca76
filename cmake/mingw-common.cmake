# Shared part of the two mingw-w64 toolchain files. The posix thread model
# variants are required: the code uses std::thread and std::mutex.
set(CMAKE_C_COMPILER ${ZRN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZRN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZRN_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZRN_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
