# Third-party code comes from Debian packages or from the source cache that
# scripts/setup.sh fills; nothing of it lives in this repository.

# jsoncpp: Debian ships no mingw build, so its sources are compiled here.
set(NQ_JSONCPP_DIR ${DEPS_CACHE}/jsoncpp)
if(NOT EXISTS ${NQ_JSONCPP_DIR}/src/lib_json/json_reader.cpp)
  message(FATAL_ERROR "jsoncpp sources missing in ${NQ_JSONCPP_DIR}: run scripts/setup.sh")
endif()
add_library(nq_jsoncpp STATIC
  ${NQ_JSONCPP_DIR}/src/lib_json/json_reader.cpp
  ${NQ_JSONCPP_DIR}/src/lib_json/json_value.cpp
  ${NQ_JSONCPP_DIR}/src/lib_json/json_writer.cpp)
target_include_directories(nq_jsoncpp SYSTEM PUBLIC ${NQ_JSONCPP_DIR}/include)
target_compile_options(nq_jsoncpp PRIVATE -w)

# zlib from libz-mingw-w64-dev, the static archive: the package also ships an
# import library, and nothing may need zlib1.dll at run time.
set(ZLIB_USE_STATIC_LIBS ON)
if(ZLIB_LIBRARY_RELEASE MATCHES "\\.dll\\.a$")
  unset(ZLIB_LIBRARY_RELEASE CACHE)
endif()
find_package(ZLIB REQUIRED)

# stb_image from libstb-dev (header only); only its own folder is exposed so the
# host's other headers never leak into the cross build.
set(NQ_STB_DIR /usr/include/stb)
add_library(nq_stb INTERFACE)
target_include_directories(nq_stb SYSTEM INTERFACE ${NQ_STB_DIR})

# GoogleTest from the sources of Debian's googletest package.
if(NQ_BUILD_TESTS)
  set(NQ_GTEST_DIR /usr/src/googletest/googletest)
  add_library(nq_gtest STATIC ${NQ_GTEST_DIR}/src/gtest-all.cc)
  target_include_directories(nq_gtest SYSTEM PUBLIC ${NQ_GTEST_DIR}/include PRIVATE ${NQ_GTEST_DIR})
  target_compile_options(nq_gtest PRIVATE -w)
endif()
