# Installs the build into a scratch prefix and runs the installed programs
# there, on the installed examples, as a user would after
#   cmake --install build/default --prefix DIR
#
#   cmake -DBUILD_DIR=... -DSCRATCH=... -DTOOLS="zelk8;zelk8-prep;..." -DVERSION=...
#         -P install_test.cmake
cmake_minimum_required(VERSION 3.25)
foreach(var BUILD_DIR SCRATCH TOOLS VERSION)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "install test: -D${var}=... is required")
  endif()
endforeach()

set(prefix ${SCRATCH}/prefix)
set(share ${prefix}/share/zelk8)
file(REMOVE_RECURSE ${SCRATCH})
file(MAKE_DIRECTORY ${SCRATCH})

# Runs COMMAND in WORKING_DIRECTORY and stops the test unless it ends with
# status 0; its standard output is left in the variable named by OUTPUT.
function(run_checked what output)
  execute_process(${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "install test: ${what} ended with status ${status}\n${out}${err}")
  endif()
  set(${output} "${out}" PARENT_SCOPE)
endfunction()

run_checked("cmake --install ${BUILD_DIR} --prefix ${prefix}" ignored
            COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

foreach(installed IN LISTS TOOLS)
  set(installed bin/${installed})
  list(APPEND expected ${installed})
endforeach()
list(APPEND expected share/zelk8/examples/anthracene/zelk8.dat
     share/zelk8/examples/cif/anthracene.cif share/doc/zelk8/README.md)
foreach(file IN LISTS expected)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "install test: ${file} is not installed under ${prefix}")
  endif()
endforeach()

run_checked("zelk8 --version" version COMMAND ${prefix}/bin/zelk8 --version)
if(NOT version STREQUAL "zelk8 ${VERSION}\n")
  message(FATAL_ERROR "install test: zelk8 --version printed \"${version}\"")
endif()

# The installed program on the installed anthracene example: its lattice sum.
set(run ${SCRATCH}/anthracene)
file(MAKE_DIRECTORY ${run})
file(COPY ${share}/examples/anthracene/zelk8.dat DESTINATION ${run})
run_checked("zelk8 on the installed anthracene example" ignored
            COMMAND ${prefix}/bin/zelk8 WORKING_DIRECTORY ${run})
file(READ ${run}/at8.dat report)
string(FIND "${report}" "Etot = -154.58475\n" at)
if(at EQUAL -1)
  message(FATAL_ERROR "install test: the report in ${run} has no lattice sum Etot = -154.58475")
endif()

if(zelk8-map IN_LIST TOOLS)
  run_checked("zelk8-map on the report" ignored
              COMMAND ${prefix}/bin/zelk8-map WORKING_DIRECTORY ${run})
  file(READ ${run}/map.svg svg LIMIT 200)
  if(NOT svg MATCHES "<svg")
    message(FATAL_ERROR "install test: ${run}/map.svg is no SVG picture")
  endif()
endif()

if(zelk8-prep IN_LIST TOOLS)
  # An input file from the installed CIF, which the installed program reads.
  set(prep ${SCRATCH}/prep)
  file(MAKE_DIRECTORY ${prep})
  run_checked("zelk8-prep on the installed anthracene CIF" ignored
              COMMAND ${prefix}/bin/zelk8-prep ${share}/examples/cif/anthracene.cif
                      -o ${prep}/zelk8.dat)
  run_checked("zelk8 on the input zelk8-prep wrote" ignored
              COMMAND ${prefix}/bin/zelk8 WORKING_DIRECTORY ${prep})
  file(READ ${prep}/at8.dat report)
  if(NOT report MATCHES "Etot = ")
    message(FATAL_ERROR "install test: the report in ${prep} has no lattice sum")
  endif()
endif()

# The Python package, when built: imported from where the README says it is
# installed, running the installed example.
if(DEFINED PYTHON AND NOT PYTHON STREQUAL "")
  set(site ${prefix}/${PYTHON_SITE})
  if(NOT EXISTS ${site}/zelk8/__init__.py)
    message(FATAL_ERROR "install test: the Python package is not installed in ${site}/zelk8")
  endif()
  set(script "import os, zelk8\n\
assert zelk8.__file__.startswith('${site}/'), zelk8.__file__\n\
run = zelk8.run(open('${share}/examples/anthracene/zelk8.dat').read())\n\
assert 'Etot = ' in run.files['at8.dat'] and len(run.report.units) > 0\n\
")
  run_checked("import zelk8 from ${site}" ignored
              COMMAND ${CMAKE_COMMAND} -E env PYTHONPATH=${site} ${PYTHON} -c "${script}")
endif()

message(STATUS "installed ${TOOLS} into ${prefix}; each ran on the installed examples")
