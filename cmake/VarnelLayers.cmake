# The program's layers (docs/architecture.md). Each layer is a target of its own that states the layers
# below it that it uses. A layer's sources are compiled with one include folder only, made in the build
# tree (layers/<target>/): links to the layer's own source folders and to those of every layer below it
# that it uses, directly or through another. A header of a layer it does not use is not there, so an
# include that runs the wrong way ("slotfile/SlotFile.h" from platform/x11, "ui/common/Text.h" from
# ui/win32) fails to compile with "No such file or directory".
#
# Tests, fuzz targets and benchmarks see the whole tree (their folders add the project's root).

set(VARNEL_LAYERS_DIR ${CMAKE_BINARY_DIR}/layers)

# Links the folder into the stage. A folder that holds folders of other layers (platform/ holds the
# interfaces and the backends' folders) gets a link per file; any other folder one link.
function(varnel_stage_folder stage folder)
    set(source ${PROJECT_SOURCE_DIR}/${folder})
    if(NOT IS_DIRECTORY ${source})
        message(FATAL_ERROR "Layer folder ${folder} does not exist")
    endif()
    file(GLOB entries LIST_DIRECTORIES true ${source}/*)
    set(has_folders OFF)
    foreach(entry ${entries})
        if(IS_DIRECTORY ${entry})
            set(has_folders ON)
        endif()
    endforeach()
    if(has_folders)
        file(MAKE_DIRECTORY ${stage}/${folder})
        file(GLOB files LIST_DIRECTORIES false CONFIGURE_DEPENDS ${source}/*)
        foreach(file ${files})
            get_filename_component(name ${file} NAME)
            file(CREATE_LINK ${file} ${stage}/${folder}/${name} SYMBOLIC)
        endforeach()
    else()
        get_filename_component(parent ${stage}/${folder} DIRECTORY)
        file(MAKE_DIRECTORY ${parent})
        file(CREATE_LINK ${source} ${stage}/${folder} SYMBOLIC)
    endif()
endfunction()

# varnel_layer(<target> FOLDERS <folder>... [USES <target>...])
#   FOLDERS  the source folders (relative to the project's root) whose files belong to the layer
#   USES     the layers (varnel_*) and outside libraries the layer's code uses; they are linked, and the
#            layers' folders (with all they use) become visible to it
# Every layer it uses must be defined before it: the layers are defined from the bottom up.
function(varnel_layer target)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "FOLDERS;USES")
    set(folders ${arg_FOLDERS})
    foreach(used ${arg_USES})
        if(used MATCHES "^varnel_")
            if(NOT TARGET ${used})
                message(FATAL_ERROR "${target} uses ${used}, which is not defined yet: a layer comes after "
                                    "the layers it uses")
            endif()
            get_target_property(visible ${used} VARNEL_VISIBLE_FOLDERS)
            list(APPEND folders ${visible})
        endif()
    endforeach()
    list(REMOVE_DUPLICATES folders)
    set_property(TARGET ${target} PROPERTY VARNEL_VISIBLE_FOLDERS ${folders})

    get_target_property(type ${target} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
        target_link_libraries(${target} INTERFACE ${arg_USES})
        # Headers only: each is compiled on its own as well, with the layer's stage, so that an include
        # running the wrong way fails here and not only in a layer above that cannot see it either.
        set(compiled ${target}_headers)
        set(generated ${CMAKE_CURRENT_BINARY_DIR}/${compiled})
        set(sources)
        foreach(folder ${arg_FOLDERS})
            file(GLOB headers CONFIGURE_DEPENDS RELATIVE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/${folder}/*.h)
            foreach(header ${headers})
                string(MAKE_C_IDENTIFIER ${header} name)
                file(CONFIGURE OUTPUT ${generated}/${name}.cpp CONTENT "#include \"${header}\"\n")
                list(APPEND sources ${generated}/${name}.cpp)
            endforeach()
        endforeach()
        add_library(${compiled} OBJECT ${sources})
        target_link_libraries(${compiled} PRIVATE ${target})
        varnel_stage(${compiled} ${folders})
        varnel_warnings(${compiled})
        return()
    endif()
    if(type STREQUAL "EXECUTABLE")
        target_link_libraries(${target} PRIVATE ${arg_USES})
    else()
        target_link_libraries(${target} PUBLIC ${arg_USES})
    endif()
    varnel_stage(${target} ${folders})
endfunction()

# Makes the target's stage with the given folders and makes it the target's one include folder.
function(varnel_stage target)
    set(stage ${VARNEL_LAYERS_DIR}/${target})
    file(REMOVE_RECURSE ${stage})
    file(MAKE_DIRECTORY ${stage})
    foreach(folder ${ARGN})
        varnel_stage_folder(${stage} ${folder})
    endforeach()
    target_include_directories(${target} PRIVATE ${stage})
endfunction()

# A toolkit-free layer: a library of every .cpp in its one folder.
function(varnel_behaviour_layer target folder)
    cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "USES")
    file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.cpp)
    add_library(${target} STATIC ${sources})
    varnel_layer(${target} FOLDERS ${folder} USES ${arg_USES})
    varnel_warnings(${target})
endfunction()

# A backend of the platform services: a library whose folder's CMakeLists.txt adds its sources.
function(varnel_backend target folder)
    cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "USES")
    add_library(${target} STATIC)
    add_subdirectory(${PROJECT_SOURCE_DIR}/${folder} ${CMAKE_BINARY_DIR}/${folder})
    varnel_layer(${target} FOLDERS ${folder} USES ${arg_USES})
    varnel_warnings(${target})
endfunction()
