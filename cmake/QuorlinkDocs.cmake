# `docs`: the reference documentation of the public headers (Doxygen), in
# <build>/docs/html; any warning fails the build.
find_program(QUORLINK_DOXYGEN doxygen)
if(QUORLINK_DOXYGEN)
  add_custom_target(docs
    COMMAND ${CMAKE_COMMAND} -E env QUORLINK_VERSION=${PROJECT_VERSION}
            QUORLINK_DOCS_OUT=${PROJECT_BINARY_DIR}/docs
            QUORLINK_GENERATED_INCLUDE=${QUORLINK_GENERATED_INCLUDE}
            ${QUORLINK_DOXYGEN} docs/Doxyfile
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    COMMENT "Reference documentation: ${PROJECT_BINARY_DIR}/docs/html/index.html"
    VERBATIM)
else()
  message(STATUS "Quorlink: doxygen not found, no docs target")
endif()
