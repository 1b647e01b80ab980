# tavrin_publisher_key(TARGET PEM) builds the publisher's public key in PEM
# (ECDSA P-256, as `openssl pkey -pubout` writes it) into the exe TARGET,
# which then starts only installers that carry the publisher's signature.
# The key is read with openssl when the tree is configured; a private key, a
# key of another curve or kind, or a file that is no key stops the
# configuration with the reason.
function(tavrin_publisher_key target pem)
  find_program(TAVRIN_OPENSSL openssl)
  if(NOT TAVRIN_OPENSSL)
    message(FATAL_ERROR "PUBLISHER_KEY needs openssl to read ${pem}")
  endif()
  get_filename_component(pem "${pem}" ABSOLUTE)
  if(NOT EXISTS "${pem}")
    message(FATAL_ERROR "PUBLISHER_KEY: no file ${pem}")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${pem}")

  # A private key is refused outright: it does not belong in a build.
  execute_process(COMMAND ${TAVRIN_OPENSSL} pkey -in "${pem}" -noout
    RESULT_VARIABLE is_private OUTPUT_QUIET ERROR_QUIET)
  if(is_private EQUAL 0)
    message(FATAL_ERROR "PUBLISHER_KEY ${pem} is a private key. Build with its public key "
                        "(openssl pkey -in KEY -pubout -out publisher-public.pem) and keep the "
                        "private one away from the build machine.")
  endif()
  set(der "${CMAKE_CURRENT_BINARY_DIR}/${target}-publisher-key.der")
  execute_process(COMMAND ${TAVRIN_OPENSSL} pkey -pubin -in "${pem}" -outform DER -out "${der}"
    RESULT_VARIABLE failed ERROR_VARIABLE said)
  if(failed)
    message(FATAL_ERROR "PUBLISHER_KEY ${pem} is not a public key in PEM: ${said}")
  endif()
  file(READ "${der}" spki HEX)
  file(REMOVE "${der}")
  # SubjectPublicKeyInfo { id-ecPublicKey, prime256v1 } with the point
  # uncompressed (04 X Y): a fixed head of 27 bytes, then 64 of the point.
  set(head "3059301306072a8648ce3d020106082a8648ce3d03010703420004")
  string(LENGTH "${spki}" length)
  string(LENGTH "${head}" head_length)
  if(NOT length EQUAL 182 OR NOT spki MATCHES "^${head}")
    message(FATAL_ERROR "PUBLISHER_KEY ${pem} is not an ECDSA P-256 (prime256v1) public key "
                        "with an uncompressed point")
  endif()
  string(SUBSTRING "${spki}" ${head_length} -1 point)
  string(REGEX REPLACE "(..)" "0x\\1," bytes "${point}")
  set(source "${CMAKE_CURRENT_BINARY_DIR}/${target}-publisher-key.cpp")
  file(CONFIGURE OUTPUT "${source}" CONTENT
"// Generated from ${pem} when the tree was configured.
#include \"workflow/publisher_key.h\"

namespace {
const std::uint8_t kKey[kPublisherKeySize] = {${bytes}};
}  // namespace

const std::uint8_t* PublisherKey() noexcept { return kKey; }
")
  target_sources(${target} PRIVATE "${source}")
endfunction()
