// The metadata table of an archive member, as LoadArchiveIndex reads it
// from the table's blocks: whatever the bytes, the decoder answers without
// reading past them, and what it accepts encodes and decodes again to the
// same records. Input: the table's bytes.
#include <cstddef>
#include <cstdint>

#include "control/metadata_table.h"
#include "fuzz_helpers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qv::control::MetadataTable table;
  if (!qv::control::DecodeMetadataTable(data, size, &table)) return 0;
  const std::vector<BYTE> again = qv::control::EncodeMetadataTable(table);
  qv::control::MetadataTable decoded;
  qvfuzz::Require(qv::control::DecodeMetadataTable(again.data(), again.size(), &decoded), "a table it wrote");
  qvfuzz::Require(decoded.size() == table.size(), "the records of a table it wrote");
  for (const auto& [entry, metadata] : table) {
    const auto found = decoded.find(entry);
    qvfuzz::Require(found != decoded.end(), "an entry of a table it wrote");
    qvfuzz::Require(found->second.item.linkTarget == metadata.item.linkTarget &&
                        found->second.item.mode == metadata.item.mode &&
                        found->second.sameFileAs == metadata.sameFileAs &&
                        found->second.item.attributes.size() <= metadata.item.attributes.size(),
                    "a record as it was read");
  }
  return 0;
}
