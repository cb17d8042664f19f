# uafw_library(name DIR dir [DEPS ...] [EXCLUDE regex...]): one static library per subsystem
# folder, made of every .cpp/.c/.S file below that folder except those matching an EXCLUDE regex
# (a subfolder that builds its own library). A folder without sources yet gives an interface library so
# that targets above it can already name it.
function(uafw_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;EXCLUDE" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS
       "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp" "${CMAKE_CURRENT_SOURCE_DIR}/*.c"
       "${CMAKE_CURRENT_SOURCE_DIR}/*.S")
  list(FILTER srcs EXCLUDE REGEX "/main\\.cpp$")
  foreach(rx IN LISTS ARG_EXCLUDE)
    list(FILTER srcs EXCLUDE REGEX "${rx}")
  endforeach()
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS} Threads::Threads)
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARG_DEPS} Threads::Threads)
  endif()
endfunction()
