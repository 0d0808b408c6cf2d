# The face detector: dlib's HOG frontal face detector from the headers of
# Debian's libdlib-dev, compiled into the module with the few dlib files it
# needs (third_party/dlib), so that the module links no dlib, BLAS or image
# library. dlib's installed config.h asks for BLAS, LAPACK, libpng and
# libjpeg: the headers are used from a copy in the build tree with a
# config.h of our own.
find_path(
  TAVIMORE_DLIB_INCLUDE_DIR dlib/image_processing/frontal_face_detector.h
  DOC "Where dlib's headers are (Debian: libdlib-dev)")
if(NOT TAVIMORE_DLIB_INCLUDE_DIR AND CMAKE_CROSSCOMPILING)
  # dlib's headers are the same C++ for every target: a cross build (MinGW
  # for Windows) takes the build machine's; only they are copied below
  find_path(
    TAVIMORE_DLIB_INCLUDE_DIR dlib/image_processing/frontal_face_detector.h
    PATHS /usr/include /usr/local/include
    NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
endif()
if(NOT TAVIMORE_DLIB_INCLUDE_DIR)
  message(FATAL_ERROR "dlib's headers were not found (Debian: apt-get install libdlib-dev)")
endif()
set(_dlib_copy "${CMAKE_BINARY_DIR}/dlib-headers")
file(
  COPY "${TAVIMORE_DLIB_INCLUDE_DIR}/dlib"
  DESTINATION "${_dlib_copy}"
  PATTERN "config.h" EXCLUDE)
configure_file("${PROJECT_SOURCE_DIR}/third_party/dlib/config.h" "${_dlib_copy}/dlib/config.h" COPYONLY)

add_library(
  tavimore-face-detector STATIC
  src/tracking/face-detector.cpp third_party/dlib/base64_kernel_1.cpp third_party/dlib/entropy_decoder_kernel_2.cpp
  third_party/dlib/test_for_odr_violations.cpp)
target_include_directories(tavimore-face-detector SYSTEM PRIVATE "${_dlib_copy}")
target_include_directories(tavimore-face-detector PRIVATE src)
# dlib's own files include their neighbours by relative names (as quoted
# includes only: dlib's folder has headers named like the C library's)
set_source_files_properties(
  third_party/dlib/base64_kernel_1.cpp third_party/dlib/entropy_decoder_kernel_2.cpp
  third_party/dlib/test_for_odr_violations.cpp
  PROPERTIES COMPILE_OPTIONS
             "-iquote;${_dlib_copy}/dlib;-iquote;${_dlib_copy}/dlib/base64;-iquote;${_dlib_copy}/dlib/entropy_decoder")
set_target_properties(tavimore-face-detector PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
# The detector works on its own thread's data only; under ThreadSanitizer it
# runs uninstrumented, at full speed (instrumented, a search takes seconds)
if(CMAKE_CXX_FLAGS MATCHES "-fsanitize=thread")
  target_compile_options(tavimore-face-detector PRIVATE -fno-sanitize=thread)
endif()
# dlib's templates are large: their debug information only slows the build
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  target_compile_options(tavimore-face-detector PRIVATE -g0 -O2)
endif()
