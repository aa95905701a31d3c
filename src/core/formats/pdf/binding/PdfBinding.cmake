# The PDF engine binding: the generator, the engine's file name and the helpers that build the
# binding layers and libraries exporting the engine's entries.

find_package(Python3 REQUIRED COMPONENTS Interpreter)
# Kept in the cache: imported targets are only visible in this folder, the helpers run in others.
set(PL_PDF_BINDING_PYTHON ${Python3_EXECUTABLE} CACHE INTERNAL "the Python 3 that runs generate.py")

set(PL_PDF_BINDING_DIR ${CMAKE_CURRENT_LIST_DIR} CACHE INTERNAL "generate.py, pdfentries.txt, pdfpixelbuffer.h")
# The engine library's name, defined here only: the engine target takes it as OUTPUT_NAME, the
# binding's pdfengine::fileName() and the tests get the file name derived from it.
set(PL_PDF_ENGINE_NAME pageloompdf CACHE INTERNAL "output name of the PDF engine library")
set(PL_PDF_ENGINE_FILE_NAME
    ${CMAKE_SHARED_LIBRARY_PREFIX}${PL_PDF_ENGINE_NAME}${CMAKE_SHARED_LIBRARY_SUFFIX}
    CACHE INTERNAL "file name of the PDF engine library")

# pl_generate_pdf_binding(<out-var> MODE binding|engine OUTPUT_DIR <dir>
#                         [STUBS notimplemented|record] [IMPLEMENTED <entry>...] [HIDE <entry>...])
# Adds the build step that writes the generated files into <dir> and returns their paths.
# MODE binding: the two binding layers. MODE engine: pdfengineentries.h, pdfenginestubs.cpp and
# pdfengine.map for a library exporting the entries (see generate.py).
function(pl_generate_pdf_binding out)
    cmake_parse_arguments(ARG "" "MODE;OUTPUT_DIR;STUBS" "IMPLEMENTED;HIDE" ${ARGN})
    set(table ${PL_PDF_BINDING_DIR}/pdfentries.txt)
    set(script ${PL_PDF_BINDING_DIR}/generate.py)
    if(ARG_MODE STREQUAL "binding")
        set(files pdflibraryentries.h pdflibraryentries.cpp pdflibrarydll.h pdflibrarydllforwarders.cpp
            debenupdflibrarydllqt1016.h debenupdflibrarydllqt1016members.cpp)
        set(options)
    elseif(ARG_MODE STREQUAL "engine")
        set(files pdfengineentries.h pdfenginestubs.cpp pdfengine.map)
        if(NOT ARG_STUBS)
            set(ARG_STUBS notimplemented)
        endif()
        list(JOIN ARG_IMPLEMENTED "," implemented)
        list(JOIN ARG_HIDE "," hidden)
        set(options --stubs ${ARG_STUBS} "--implemented=${implemented}" "--hide=${hidden}")
    else()
        message(FATAL_ERROR "pl_generate_pdf_binding: MODE must be binding or engine")
    endif()
    list(TRANSFORM files PREPEND ${ARG_OUTPUT_DIR}/)
    add_custom_command(OUTPUT ${files}
        COMMAND ${PL_PDF_BINDING_PYTHON} ${script} ${ARG_MODE} --table ${table} --out ${ARG_OUTPUT_DIR} ${options}
        DEPENDS ${script} ${table}
        COMMENT "Generating the PDF engine ${ARG_MODE} files in ${ARG_OUTPUT_DIR}"
        VERBATIM)
    set(${out} ${files} PARENT_SCOPE)
endfunction()

# pl_add_pdf_engine_library(<target> SOURCES <file>... [OUTPUT_NAME <name>] [OUTPUT_DIRECTORY <dir>]
#                           [STUBS notimplemented|record] [IMPLEMENTED <entry>...] [HIDE <entry>...])
# A shared library exporting every entry of the table and nothing else. The entries named in
# IMPLEMENTED (and the seven protocol entries) come from SOURCES, which include
# "pdfengineentries.h" for their prototypes; the rest are generated stubs (STUBS). HIDE leaves
# entries out of the exports (tests use it for incomplete libraries). The library lands in
# CMAKE_LIBRARY_OUTPUT_DIRECTORY (bin/, beside the reader) unless OUTPUT_DIRECTORY says otherwise.
# The engine itself: pl_add_pdf_engine_library(pdfengine OUTPUT_NAME ${PL_PDF_ENGINE_NAME} ...).
function(pl_add_pdf_engine_library target)
    cmake_parse_arguments(ARG "" "OUTPUT_NAME;OUTPUT_DIRECTORY;STUBS" "SOURCES;IMPLEMENTED;HIDE" ${ARGN})
    set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_entries)
    pl_generate_pdf_binding(generated MODE engine OUTPUT_DIR ${dir} STUBS ${ARG_STUBS}
        IMPLEMENTED ${ARG_IMPLEMENTED} HIDE ${ARG_HIDE})
    add_library(${target} SHARED ${ARG_SOURCES} ${dir}/pdfengineentries.h ${dir}/pdfenginestubs.cpp)
    target_include_directories(${target} PRIVATE ${dir} ${PL_PDF_BINDING_DIR})
    set_target_properties(${target} PROPERTIES
        AUTOMOC OFF
        NO_SONAME ON
        C_VISIBILITY_PRESET hidden
        CXX_VISIBILITY_PRESET hidden
        VISIBILITY_INLINES_HIDDEN ON
        LINK_DEPENDS ${dir}/pdfengine.map)
    if(ARG_OUTPUT_NAME)
        set_target_properties(${target} PROPERTIES OUTPUT_NAME ${ARG_OUTPUT_NAME})
    endif()
    if(ARG_OUTPUT_DIRECTORY)
        set_target_properties(${target} PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${ARG_OUTPUT_DIRECTORY})
    endif()
    # Unique global symbols would pin the library in memory, so dlclose could never unload it.
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANG_AND_ID:CXX,GNU>:-fno-gnu-unique>)
    target_link_options(${target} PRIVATE -Wl,--version-script=${dir}/pdfengine.map -Wl,--no-undefined)
endfunction()
