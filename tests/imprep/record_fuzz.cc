// Feeds arbitrary bytes to the record reader: it must refuse them with an
// exception or read a record, never crash or read past its input.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "imprep/record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace talvo::imprep;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::unique_ptr<ImpRepRecord> record;
  RecordLayout layout;
  talvo::Status s = parseRecord(text, "fuzz", "/repo/fuzz.IMP", TraceSink(),
                                &record, &layout);
  if ((s == nullptr) == (record == nullptr)) __builtin_trap();
  if (record) {
    // What was read can be looked up, listed and written again.
    const LaunchInfo& info = record->launchInfo();
    std::vector<LaunchEntry> entries = info.list();  // built anew per call
    for (const LaunchEntry& e : entries) {
      if (!info.lookup(e.key)) __builtin_trap();
    }
    info.lookup("");
    info.lookup("_QV_PING");
    info.lookup("obj1");
    if (layout.headLines > splitLines(text).size()) __builtin_trap();
    RecordContent content{
        record->mode(),  record->submode(),
        record->name(),  record->code() + "/" + record->comms(),
        record->owner(), record->nservers(),
        record->port(),  std::move(entries)};
    formatRecord(content);
  }
  return 0;
}
