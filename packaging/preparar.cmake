# Run by CPack after the staging install, before it packs the tree.
set(raiz ${CPACK_TEMPORARY_DIRECTORY})

# Folders are made under the builder's umask, which must not reach the package.
file(CHMOD_RECURSE ${raiz}${CPACK_PACKAGING_INSTALL_PREFIX} DIRECTORY_PERMISSIONS
     OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# A run-time piece whose package the binaries already link (the SVG plugins ship with
# libQt6Svg on Debian 12) is not named a second time, without a version, beside the one
# CPack's own dpkg-shlibdeps run computes.
file(GLOB binarios RELATIVE ${raiz} ${raiz}${CPACK_PACKAGING_INSTALL_PREFIX}/bin/*
     ${raiz}${CPACK_PACKAGING_INSTALL_PREFIX}/lib/*/*.so)
# dpkg-shlibdeps wants a source package around the files it reads.
file(WRITE ${raiz}/debian/control "")
execute_process(COMMAND dpkg-shlibdeps -O ${binarios} WORKING_DIRECTORY ${raiz}
                OUTPUT_VARIABLE enlazados RESULT_VARIABLE estado ERROR_VARIABLE error)
file(REMOVE_RECURSE ${raiz}/debian)
if(NOT estado EQUAL 0)
    message(FATAL_ERROR "dpkg-shlibdeps: ${error}")
endif()
string(REGEX REPLACE "^shlibs:Depends=" ", " enlazados "${enlazados}")
string(REPLACE "\n" "" enlazados "${enlazados}")
set(quedan)
foreach(paquete IN LISTS CPACK_PIREL_CARGADOS)
    if(NOT "${enlazados}," MATCHES ", ${paquete}[ ,]")
        list(APPEND quedan ${paquete})
    endif()
endforeach()
list(JOIN quedan ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
