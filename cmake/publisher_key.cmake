# The publisher key that the codesign stand-in pins. Tests and the demo sign
# with the development pair in tools/keys, whose private half is in the
# repository, so a release build must be given another key: anyone could sign
# an application that a build trusting the development key accepts.

set(ORBITREEL_DEVELOPMENT_PUBLIC_KEY ${CMAKE_SOURCE_DIR}/tools/keys/development-public.pem)
set(ORBITREEL_PUBLISHER_KEY ${ORBITREEL_DEVELOPMENT_PUBLIC_KEY} CACHE FILEPATH
  "Public key (PEM, Ed25519) of the publisher whose signatures codesign accepts; a release build sets the real one")

# The key's PEM text without line breaks or blanks, so a copy of the
# development key with other line endings is still recognised.
function(orbitreel_key_text path out)
  file(READ ${path} text)
  string(REGEX REPLACE "[ \t\r\n]" "" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

if(ORBITREEL_RELEASE_BUILD)
  set(how "configure the release with -DORBITREEL_PUBLISHER_KEY=/path/to/publisher-public.pem (see tools/keys/README.md)")
  if(NOT EXISTS ${ORBITREEL_PUBLISHER_KEY} OR IS_DIRECTORY ${ORBITREEL_PUBLISHER_KEY})
    message(FATAL_ERROR "Release build: the publisher key ${ORBITREEL_PUBLISHER_KEY} does not exist; ${how}")
  endif()
  orbitreel_key_text(${ORBITREEL_PUBLISHER_KEY} given)
  orbitreel_key_text(${ORBITREEL_DEVELOPMENT_PUBLIC_KEY} development)
  if(given STREQUAL development)
    message(FATAL_ERROR "Release build: ORBITREEL_PUBLISHER_KEY is the development key, whose private half is "
                        "public in this repository; ${how}")
  endif()
  if(NOT given MATCHES "^-----BEGINPUBLICKEY-----.+-----ENDPUBLICKEY-----$")
    message(FATAL_ERROR "Release build: ${ORBITREEL_PUBLISHER_KEY} is not a PEM public key; ${how}")
  endif()
endif()
