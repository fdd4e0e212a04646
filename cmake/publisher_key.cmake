# The publisher key that the codesign stand-in pins. Tests and the demo sign
# with the development pair in tools/keys, whose private half is in the
# repository, so a release build must be given another key: anyone could sign
# an application that a build trusting the development key accepts.

set(ORBITREEL_DEVELOPMENT_PUBLIC_KEY ${CMAKE_SOURCE_DIR}/tools/keys/development-public.pem)
set(ORBITREEL_PUBLISHER_KEY ${ORBITREEL_DEVELOPMENT_PUBLIC_KEY} CACHE FILEPATH
  "Public key (PEM, Ed25519) of the publisher whose signatures codesign accepts; a release build sets the real one")

# The raw public key in `path`, as hexadecimal, read by OpenSSL as the
# codesign stand-in reads it. Compared as keys, not as text: the same key can
# be written in more than one way (the unused bits of the last base64 digit,
# line endings). Anything but exactly one PEM public key, an Ed25519 one, is
# refused, since the stand-in would pin only the first of several.
function(orbitreel_raw_public_key path how out)
  file(READ ${path} text)
  string(REGEX MATCHALL "-----BEGIN" blocks "${text}")
  list(LENGTH blocks count)
  string(REGEX REPLACE "[ \t\r\n]" "" compact "${text}")
  if(NOT count EQUAL 1 OR NOT compact MATCHES "^-----BEGINPUBLICKEY-----[A-Za-z0-9+/=]+-----ENDPUBLICKEY-----$")
    message(FATAL_ERROR "Release build: ${path} is not exactly one PEM public key; ${how}")
  endif()
  find_program(ORBITREEL_OPENSSL openssl REQUIRED)
  execute_process(COMMAND ${ORBITREEL_OPENSSL} pkey -pubin -in ${path} -noout -text_pub
    OUTPUT_VARIABLE dump RESULT_VARIABLE status ERROR_QUIET)
  if(NOT status EQUAL 0 OR NOT dump MATCHES "^ED25519 Public-Key:\npub:\n")
    message(FATAL_ERROR "Release build: ${path} is not an Ed25519 public key; ${how}")
  endif()
  string(REGEX REPLACE "^ED25519 Public-Key:\npub:\n" "" hex "${dump}")
  string(REGEX REPLACE "[ \t\r\n:]" "" hex "${hex}")
  set(${out} "${hex}" PARENT_SCOPE)
endfunction()

if(ORBITREEL_RELEASE_BUILD)
  set(how "configure the release with -DORBITREEL_PUBLISHER_KEY=/path/to/publisher-public.pem (see tools/keys/README.md)")
  if(NOT EXISTS ${ORBITREEL_PUBLISHER_KEY} OR IS_DIRECTORY ${ORBITREEL_PUBLISHER_KEY})
    message(FATAL_ERROR "Release build: the publisher key ${ORBITREEL_PUBLISHER_KEY} does not exist; ${how}")
  endif()
  orbitreel_raw_public_key(${ORBITREEL_PUBLISHER_KEY} "${how}" given)
  orbitreel_raw_public_key(${ORBITREEL_DEVELOPMENT_PUBLIC_KEY} "${how}" development)
  if(given STREQUAL development)
    message(FATAL_ERROR "Release build: ORBITREEL_PUBLISHER_KEY is the development key, whose private half is "
                        "public in this repository; ${how}")
  endif()
endif()
