# Fails unless the user's guide names the version the build defines ("Tovra VERSION").
file(READ ${GUIDE} text)
string(FIND "${text}" "Tovra ${VERSION}" at)
if(at EQUAL -1)
    message(FATAL_ERROR "${GUIDE} does not name Tovra ${VERSION}")
endif()
