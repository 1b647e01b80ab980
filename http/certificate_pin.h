// The certificate pin of an HttpRequest: the server is trusted when its own
// certificate, the first of the chain it presented, is a byte-for-byte copy
// of the certificate carried in the program's resources ("CERTIFICATE" 132),
// whatever the platform thinks of it. An authority cannot be pinned.
#pragma once

#include <windows.h>
#include <wininet.h>

#include "platform/unique_handle.h"

// The certificate from the resources of the program's own image, or an empty
// owner when it is missing or is not a certificate.
UniqueCertContext LoadPinnedCertificate();

// Switches off the platform's chain, name, date, usage and revocation checks
// on `hRequest`, so that the pin alone decides. Done before the request is sent.
void PreparePin(HINTERNET hRequest);

// True when the server's own certificate on `hRequest` is `pinned`.
// False when there is no chain to look at.
bool CheckPin(HINTERNET hRequest, PCCERT_CONTEXT pinned);

// True when the platform has a chain of the server's on `hRequest`: a
// handshake with the server took place.
bool HasServerChain(HINTERNET hRequest);
