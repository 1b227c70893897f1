# Fails when the program or the tests left their files in the checkout: settings, work files,
# temporaries, histogram, profile or interval files belong in the build and work folders.
set(found)
foreach(dir "" samples/ docs/ app/ tests/ scripts/)
    foreach(pattern Tovra.ini *.tmp *.part .tovra-* *_hdat.csv *_xlhdat.csv *_ylhdat.csv *_intval.csv)
        file(GLOB hits ${SOURCE}/${dir}${pattern})
        list(APPEND found ${hits})
    endforeach()
endforeach()
if(found)
    message(FATAL_ERROR "left in the checkout: ${found}")
endif()
