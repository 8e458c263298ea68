# A Debian package of the native tools, made by CPack: cmake --build
# build/native --target package.
install(TARGETS corvane corvane-image RUNTIME DESTINATION bin)
install(FILES ${PROJECT_SOURCE_DIR}/docs/man/corvane.1 ${PROJECT_SOURCE_DIR}/docs/man/corvane-image.1
        DESTINATION share/man/man1)
install(FILES ${PROJECT_SOURCE_DIR}/resources/package/DEVICE-ACCESS.txt
        DESTINATION share/doc/corvane)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_CONTACT "Corvane maintainers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "CD/DVD drive firmware updater: corvane and corvane-image")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Both programs are linked statically.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "")
include(CPack)
