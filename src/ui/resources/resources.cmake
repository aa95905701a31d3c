# Builds the application's picture resources (":/svg/...", ":/appicon.svg", ":/backgrounds/noise.png")
# from icons.txt: theme icons and our own drawings are gathered into the build tree, the grain tile is
# generated, and one resource file with the table's names as aliases is compiled into the target.
#
# pl_add_app_resources(<target>)
set(PL_APP_RESOURCES_DIR ${CMAKE_CURRENT_LIST_DIR})
set(PL_ICON_THEME_DIR /usr/share/icons/breeze CACHE PATH "Folder of the breeze icon theme")

function(pl_add_app_resources target)
    set(src ${PL_APP_RESOURCES_DIR})
    set(gen ${CMAKE_CURRENT_BINARY_DIR}/appresources)
    file(MAKE_DIRECTORY ${gen}/backgrounds)

    add_executable(pl_noisetile ${src}/noisetile/noisetile.cpp)
    target_link_libraries(pl_noisetile PRIVATE Qt5::Gui)
    set_target_properties(pl_noisetile PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
    add_custom_command(OUTPUT ${gen}/backgrounds/noise.png
        COMMAND $<TARGET_FILE:pl_noisetile> ${gen}/backgrounds/noise.png
        DEPENDS pl_noisetile
        COMMENT "Generating the background grain tile"
        VERBATIM)

    file(GLOB own_files CONFIGURE_DEPENDS ${src}/svg/*.svg)
    add_custom_command(OUTPUT ${gen}/app_resources.qrc
        COMMAND ${CMAKE_COMMAND} -DTABLE=${src}/icons.txt -DTHEME_DIR=${PL_ICON_THEME_DIR} -DOWN_DIR=${src}
            -DOUT_DIR=${gen} -P ${src}/gatherresources.cmake
        DEPENDS ${src}/icons.txt ${src}/gatherresources.cmake ${own_files}
        COMMENT "Gathering the application's pictures"
        VERBATIM)
    # Compiled by hand: the files the resource file names exist only once the steps above have run.
    add_custom_command(OUTPUT ${gen}/qrc_app_resources.cpp
        COMMAND Qt5::rcc --name app_resources --output ${gen}/qrc_app_resources.cpp ${gen}/app_resources.qrc
        DEPENDS ${gen}/app_resources.qrc ${gen}/backgrounds/noise.png
        WORKING_DIRECTORY ${gen}
        VERBATIM)
    set_source_files_properties(${gen}/qrc_app_resources.cpp PROPERTIES SKIP_AUTOGEN ON GENERATED ON)
    target_sources(${target} PRIVATE ${gen}/qrc_app_resources.cpp)
endfunction()
