#include "records.h"

#include <algorithm>
#include <cerrno>

#include "reed_solomon.h"

void attachData(RecordStore& store, PayloadReader& reader, int fecDataBytes, int& readError)
{
    store.fill = [&reader, fecDataBytes, &readError](RecordStore& s, size_t count) {
        while (!s.complete && s.records.size() < count) {
            Record record{};
            const PayloadRead read = readNextPayload(reader, record.data());
            if (read == PayloadRead::failed) {
                readError = errno;
                s.complete = true;
                return;
            }
            if (read == PayloadRead::whole || reader.shortRecordBytes > 0) {
                if (fecDataBytes != 0)
                    rsEncode(record.data(), fecDataBytes);
                noteStampedRecord(reader, record.data());
                s.records.push_back(record);
            }
            s.complete = read != PayloadRead::whole;
        }
        // Data with no record at all reads as one of zeros, as stamping it does.
        if (s.complete && s.records.empty())
            s.records.push_back(Record{});
    };
    // A regular file's size is known, so all of it is read at once, into
    // exactly the room it needs (std::bad_alloc where there is none), and a
    // frame can be matched with any record.
    int64_t records = 0;
    if (countUnusedRecords(reader, records)) {
        store.records.reserve(static_cast<size_t>(std::max<int64_t>(records, 1)));
        store.fill(store, static_cast<size_t>(records) + 1);
    }
}
