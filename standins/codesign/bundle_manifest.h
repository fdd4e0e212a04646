#pragma once
// The manifest that a bundle's signature covers: one line for every folder,
// file and link, in a fixed order, streamed into SHA-256 so that memory stays
// bounded whatever the bundle's size.
//
//   orbitreel-bundle-manifest 1
//   d 40755 .
//   d 40755 Contents
//   f 100755 Contents/MacOS/Orbitreel <piece digest of the content>
//   l 120777 Contents/Current <link target>
//
// A file's digest is its piece digest (piece_digest.h), hashed on all cores.
// Modes leave out the write bits: an attached image shows its content
// without them, and a copy of it gets them back, while the bundle is the same.
// Paths and targets escape space, "%" and control bytes as %XX.

#include <string>

#include "base/sha256.h"
#include "standins/common/failure.h"

namespace orbitreel::standins {

// The signature's own place, the one item the manifest leaves out.
inline constexpr const char* SignatureFolderName = "_CodeSignature";
inline constexpr const char* SignatureFileName = "Signature";
inline constexpr const char* SignaturePath = "Contents/_CodeSignature/Signature";

// Fails for anything that must not be in a signed bundle: a link that leaves
// the bundle, a device, FIFO or socket.
Result<base::Sha256Digest> bundleManifestDigest(int bundleFd);

// The escaping of paths and link targets in manifest lines.
std::string escapeManifestText(const std::string& text);

}  // namespace orbitreel::standins
