# The release archive, Corvane-<version>-win32.zip: the two deliverables, the
# image checker and the user guide at the top; the simulated ASPI layer in a
# folder of its own, never beside Corvane.exe, where it would hide real drives.
set(release_name Corvane-${PROJECT_VERSION}-win32)
set(release_stage ${CMAKE_BINARY_DIR}/release/${release_name})
set(release_zip ${CMAKE_BINARY_DIR}/${release_name}.zip)
set(release_docs ${PROJECT_SOURCE_DIR}/resources/release)
configure_file(${release_docs}/USER-GUIDE.txt ${CMAKE_BINARY_DIR}/release/USER-GUIDE.txt @ONLY)

add_custom_command(OUTPUT ${release_zip}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${release_stage}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${release_stage}/rehearsal
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:Corvane> $<TARGET_FILE:Wexa>
          $<TARGET_FILE:corvane-image> ${CMAKE_BINARY_DIR}/release/USER-GUIDE.txt ${release_stage}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:wnaspi32> ${release_docs}/REHEARSAL.txt
          ${release_stage}/rehearsal
  COMMAND ${CMAKE_COMMAND} -E rm -f ${release_zip}
  COMMAND ${CMAKE_COMMAND} -E chdir ${CMAKE_BINARY_DIR}/release
          ${CMAKE_COMMAND} -E tar cf ${release_zip} --format=zip ${release_name}
  DEPENDS Corvane Wexa corvane-image wnaspi32 ${CMAKE_BINARY_DIR}/release/USER-GUIDE.txt
          ${release_docs}/REHEARSAL.txt
  COMMENT "Packing ${release_name}.zip")
add_custom_target(release ALL DEPENDS ${release_zip})
