# A layer of src/ (platform → client → engine → present → session, cli → ui): every .cpp of its folder except
# the entries of the program and of its loaded libraries, as a static library linking what is given
# after the name.
function(zafrel_layer name)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h
       ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
  list(FILTER sources EXCLUDE REGEX "/(main|[a-z_]+_entry)\\.cpp$")
  add_library(zafrel_${name} STATIC ${sources})
  target_include_directories(zafrel_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(zafrel_${name} PUBLIC ${ARGN})
endfunction()
