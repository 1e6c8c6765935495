// The numbers of the file, key and blob properties that programs read with GET_PROPERTY and set
// with SET_PROPERTY. One list for every driver, so that a number means the same whichever driver
// answers it; each driver says which it answers and what the values look like (the record-file
// driver in tarnwell/properties.hpp, the comma-delimited driver in basic/basic_properties.hpp).
#pragma once

#include <cstdint>

namespace vtn::prop {

//                                       file                  key              blob
inline constexpr int32_t kName = 0x7300;           // declared name      external name    ext. name
inline constexpr int32_t kLabel = 0x7301;          // field n's label    label            label
inline constexpr int32_t kDriver = 0x7302;         // the driver's name
inline constexpr int32_t kDriverOptions = 0x7303;  // DRIVER options
inline constexpr int32_t kRecords = 0x7304;        // RECORDS            entries
inline constexpr int32_t kRecordSize = 0x7305;     // record length
inline constexpr int32_t kFields = 0x7306;         // field count
inline constexpr int32_t kKeys = 0x7307;           // key count
inline constexpr int32_t kMemos = 0x7308;          // memo and blob count
inline constexpr int32_t kBlobs = 0x7309;          // blob count
inline constexpr int32_t kType = 0x730A;           // field n's type
inline constexpr int32_t kSize = 0x730B;          // field n's size                       size (set)
inline constexpr int32_t kTable = 0x730C;         // table name in the file
inline constexpr int32_t kPhysicalFile = 0x730D;  // full path of the file
inline constexpr int32_t kFullBuild = 0x730E;     // "ON"/"OFF" (set)
inline constexpr int32_t kFlags = 0x730F;         // FLAGS value (set)
inline constexpr int32_t kPointer = 0x7310;       // current record's pointer, 0 when none
inline constexpr int32_t kComponents = 0x7311;    //                    component count
inline constexpr int32_t kComponent = 0x7312;     //                    component n's field
inline constexpr int32_t kDuplicates = 0x7313;    //                    flag
inline constexpr int32_t kNoCase = 0x7314;        //                    flag
inline constexpr int32_t kPrimary = 0x7315;       //                    flag
inline constexpr int32_t kDynamic = 0x7316;       //                    flag
inline constexpr int32_t kReady = 0x7317;         //                    index built
inline constexpr int32_t kStaleMark = 0x7318;     //                    lowest stale record
inline constexpr int32_t kContents = 0x7319;      //                                     bytes (set)
inline constexpr int32_t kBinary = 0x731A;        //                                     flag
inline constexpr int32_t kOption = 0x7340;        // one driver option by name, as SEND (set)
inline constexpr int32_t kFileSize = 0x7341;      // size of the file in bytes

}  // namespace vtn::prop
