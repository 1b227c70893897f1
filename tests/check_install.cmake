# Tovra installed into a temporary root as a lab would install it: the program and the measurement
# run from there, the Python package finds its library there, pip installs the package from the
# checkout, and the Debian package holds them all.
# -DBUILD=<build folder> -DSOURCE=<checkout> -DPYTHON=<python3> -DWORK=<temporary folder>
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
function(run)
    cmake_parse_arguments(R "" "EXPECT" "COMMAND" ${ARGN})
    execute_process(COMMAND ${R_COMMAND} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT code EQUAL 0)
        message(FATAL_ERROR "${R_COMMAND}: exit ${code}\n${out}${err}")
    endif()
    if(R_EXPECT AND NOT out MATCHES "${R_EXPECT}")
        message(FATAL_ERROR "${R_COMMAND}: no \"${R_EXPECT}\" in\n${out}${err}")
    endif()
endfunction()

set(root "${WORK}/root")
run(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${root} ${CMAKE_COMMAND} --install ${BUILD} --prefix /usr)
run(COMMAND ${root}/usr/bin/Tovra --version EXPECT "^Tovra [0-9]+\\.[0-9]+\\.[0-9]+\n$")
run(COMMAND ${root}/usr/bin/Tovra --measure ${SOURCE}/samples/stripes_bin_256.mon --size 256 256
    EXPECT "\"pattern\":\"stripes\",\"reliable\":true")
foreach(file lib/tovra/libQuarn.so lib/tovra/tovra-installed lib/tovra/user-guide.md lib/tovra/user-guide.ja.md lib/tovra/images/series-plot.png
             include/tovra/measure_c.h share/applications/tovra.desktop
             share/icons/hicolor/128x128/apps/tovra.png)
    if(NOT EXISTS "${root}/usr/${file}")
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()
# Lines, not semicolons, which would cut the command into a list.
set(probe "import tovra_measure, numpy as np
print(tovra_measure.library_path())
print(tovra_measure.measure(np.fromfile('${SOURCE}/samples/maze_512.mon', dtype=np.uint8).reshape(512, 512)).pattern)")
run(COMMAND ${CMAKE_COMMAND} -E env --unset=TOVRA_MEASURE_LIB PYTHONDONTWRITEBYTECODE=1
            PYTHONPATH=${root}/usr/lib/python3/dist-packages ${PYTHON} -c "${probe}"
    EXPECT "^${root}/usr/lib/python3/dist-packages/tovra_measure/libTovraMeasure.so\nmaze\n$")

# pip, with Debian's setuptools and nothing fetched, from a copy (a build leaves files beside it).
file(COPY ${SOURCE}/measure/python DESTINATION ${WORK})
run(COMMAND ${PYTHON} -m pip install --quiet --no-deps --no-build-isolation --no-index --target ${WORK}/site
            ${WORK}/python)
run(COMMAND ${CMAKE_COMMAND} -E env TOVRA_MEASURE_LIB=${root}/usr/lib/tovra/libTovraMeasure.so
            PYTHONDONTWRITEBYTECODE=1 PYTHONPATH=${WORK}/site ${PYTHON} -c "${probe}"
    EXPECT "\nmaze\n$")

run(COMMAND cpack -G DEB --config ${BUILD}/CPackConfig.cmake -B ${WORK}/deb)
file(GLOB deb "${WORK}/deb/tovra_*.deb")
run(COMMAND dpkg-deb -c ${deb} EXPECT "./usr/bin/Tovra -> ../lib/tovra/Tovra")
file(REMOVE_RECURSE "${WORK}")
