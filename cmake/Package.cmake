# The Debian package of the native tools, made by CPack in a tree of its own
# (tools/package.sh: a Release tree with Debian's build flags, checked by
# lintian). The programs are linked against the system's shared libraries,
# whose packages dpkg-shlibdeps names as dependencies, and stripped.
set(package_src ${PROJECT_SOURCE_DIR}/resources/package)
set(package_dir ${CMAKE_BINARY_DIR}/package)
set(CORVANE_MAINTAINER "Corvane maintainers <maintainers@corvane.invalid>"
    CACHE STRING "The package's maintainer: a name and a mail address")

# Man pages and the changelog as Debian ships them: gzip -9n, no name and no
# time inside, the same bytes on every build.
configure_file(${package_src}/changelog ${package_dir}/changelog @ONLY)
configure_file(${package_src}/copyright ${package_dir}/copyright @ONLY)
set(package_gz)
foreach(file ${PROJECT_SOURCE_DIR}/docs/man/corvane.1 ${PROJECT_SOURCE_DIR}/docs/man/corvane-image.1
        ${package_dir}/changelog)
  get_filename_component(name ${file} NAME)
  add_custom_command(OUTPUT ${package_dir}/${name}.gz
    COMMAND sh -c "gzip -9n -c \"$0\" >\"$1\"" ${file} ${package_dir}/${name}.gz
    DEPENDS ${file} VERBATIM)
  list(APPEND package_gz ${package_dir}/${name}.gz)
endforeach()
add_custom_target(package_files ALL DEPENDS ${package_gz})

install(TARGETS corvane corvane-image RUNTIME DESTINATION bin)
install(FILES ${package_dir}/corvane.1.gz ${package_dir}/corvane-image.1.gz DESTINATION share/man/man1)
install(FILES ${package_src}/DEVICE-ACCESS.txt ${package_dir}/copyright ${package_dir}/changelog.gz
        DESTINATION share/doc/corvane)
# bash-completion loads a command's completion by the command's name.
foreach(tool corvane corvane-image)
  install(FILES ${package_src}/corvane.bash-completion
          DESTINATION share/bash-completion/completions RENAME ${tool})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_CONTACT ${CORVANE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "CD/DVD drive firmware updater")
file(READ ${package_src}/description CPACK_PACKAGE_DESCRIPTION)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
