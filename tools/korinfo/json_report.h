// korinfo --json: the same facts as the text report, as one JSON document
// (its schema is described in the README).
#pragma once
#include <string>
#include <vector>

#include "common/json_writer.h"
#include "examine.h"
#include "sequence_report.h"

namespace KorInfo {

// Builds the document input by input: Begin, then one Add per input, then End.
class JsonReport {
public:
    JsonReport();
    void AddFile(const std::string& input, const Inspection& inspection);
    void AddSequence(const SequenceReport& report);
    // Closes the document; `ok` is false when any file failed.
    const std::string& End(bool ok);

private:
    KorTools::JsonWriter json_;
};

}  // namespace KorInfo
