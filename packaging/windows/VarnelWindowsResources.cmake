# varnel_add_windows_resources(<target>) gives the Windows executable <target> its version information
# and icon (compiled by windres into an object that is linked in) and strips it in Release builds.
# It may be called from any directory, and more than once: the second call does nothing.
#
# The icon (varnel.ico) is made from resources/icons/ by icotool (Debian: icoutils). Without icotool
# the executable gets its version information only, and a warning says so; scripts/package-windows.sh
# installs icoutils and checks that the released program has its icon.
set(VARNEL_WINDOWS_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})

# The company and copyright are the Debian package's (packaging/copyright's first Copyright line).
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/copyright copyright_line REGEX "^Copyright: " LIMIT_COUNT 1)
string(REGEX REPLACE "^Copyright: *" "" VARNEL_COPYRIGHT "${copyright_line}")
string(REGEX REPLACE "^[0-9, -]+" "" VARNEL_COMPANY "${VARNEL_COPYRIGHT}")
# Windows' version numbers have four parts: 1.1 is 1.1.0.0.
set(VARNEL_VERSION ${PROJECT_VERSION})
foreach(part MAJOR MINOR PATCH TWEAK)
    if("${PROJECT_VERSION_${part}}" STREQUAL "")
        set(VARNEL_VERSION_${part} 0)
    else()
        set(VARNEL_VERSION_${part} ${PROJECT_VERSION_${part}})
    endif()
endforeach()
set(VARNEL_VERSION4 ${VARNEL_VERSION_MAJOR}.${VARNEL_VERSION_MINOR}.${VARNEL_VERSION_PATCH}.${VARNEL_VERSION_TWEAK})

function(varnel_add_windows_resources target)
    get_target_property(done ${target} VARNEL_WINDOWS_RESOURCES)
    if(done)
        return()
    endif()
    set_target_properties(${target} PROPERTIES VARNEL_WINDOWS_RESOURCES ON)

    if(CMAKE_RC_COMPILER)
        set(windres ${CMAKE_RC_COMPILER})
    else()
        find_program(VARNEL_WINDRES x86_64-w64-mingw32-windres REQUIRED)
        set(windres ${VARNEL_WINDRES})
    endif()
    # windres runs the C preprocessor; the compiler is named so that windres does not pick up whichever
    # MinGW gcc the unsuffixed name points to.
    if(CMAKE_C_COMPILER)
        set(preprocessor ${CMAKE_C_COMPILER})
    else()
        set(preprocessor ${CMAKE_CXX_COMPILER})
    endif()
    find_program(VARNEL_ICOTOOL icotool)

    set(dir ${CMAKE_BINARY_DIR}/windows-resources/${target})
    set(icons ${PROJECT_SOURCE_DIR}/resources/icons)
    get_target_property(VARNEL_EXE_NAME ${target} OUTPUT_NAME)
    if(NOT VARNEL_EXE_NAME)
        set(VARNEL_EXE_NAME ${target})
    endif()
    configure_file(${VARNEL_WINDOWS_PACKAGING_DIR}/varnel.rc.in ${dir}/varnel.rc @ONLY)

    set(rc_flags)
    set(rc_depends ${dir}/varnel.rc)
    if(VARNEL_ICOTOOL)
        # Small sizes as bitmaps (every Windows and Wine draws them), 256 pixels as PNG, as Windows' own
        # icons have them.
        set(bitmaps)
        foreach(size 16 24 32 48 64)
            list(APPEND bitmaps ${icons}/varnel-${size}.png)
        endforeach()
        add_custom_command(OUTPUT ${dir}/varnel.ico
                           COMMAND ${VARNEL_ICOTOOL} --create --output=${dir}/varnel.ico ${bitmaps}
                                   --raw=${icons}/varnel-256.png
                           DEPENDS ${bitmaps} ${icons}/varnel-256.png VERBATIM)
        list(APPEND rc_flags -DVARNEL_ICON)
        list(APPEND rc_depends ${dir}/varnel.ico)
    else()
        message(WARNING "icotool (Debian: icoutils) was not found: ${target} gets no icon")
    endif()
    add_custom_command(OUTPUT ${dir}/varnel-resources.o
                       COMMAND ${windres} --preprocessor=${preprocessor} --preprocessor-arg=-E
                               --preprocessor-arg=-xc --preprocessor-arg=-DRC_INVOKED ${rc_flags}
                               -I ${dir} -O coff -i ${dir}/varnel.rc -o ${dir}/varnel-resources.o
                       DEPENDS ${rc_depends} VERBATIM)
    add_custom_target(${target}_windows_resources DEPENDS ${dir}/varnel-resources.o)
    add_dependencies(${target} ${target}_windows_resources)
    # An object file named on the link line: windres' .rsrc section is merged into the executable's.
    target_link_libraries(${target} PRIVATE ${dir}/varnel-resources.o)
    target_link_options(${target} PRIVATE $<$<CONFIG:Release,MinSizeRel>:-s>)
endfunction()
