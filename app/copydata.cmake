# Puts the files the program reads beside the built executable, as an installed copy has them.
# Run at every build so that edited or added language files reach the build tree.
#   cmake -DSOURCE_DIR=<repository> -DDEST_DIR=<folder of the executable> -P copydata.cmake
file(GLOB languages "${SOURCE_DIR}/Languages/*.ini")
file(MAKE_DIRECTORY "${DEST_DIR}/Languages")
foreach(file IN LISTS languages)
  file(COPY "${file}" DESTINATION "${DEST_DIR}/Languages")
endforeach()
foreach(help "${SOURCE_DIR}/Help.html" "${SOURCE_DIR}/app/Help.html")
  if(EXISTS "${help}")
    file(COPY "${help}" DESTINATION "${DEST_DIR}")
  endif()
endforeach()
