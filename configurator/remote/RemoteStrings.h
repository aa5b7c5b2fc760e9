#pragma once

// String table identifiers of the remote link's texts.
namespace remote::strings {

inline constexpr int kReadTitle = 137;         // "Read remote configuration"
inline constexpr int kReadButton = 138;        // "Read"
inline constexpr int kWriteTitle = 139;        // "Write remote configuration"
inline constexpr int kWriteButton = 140;       // "Write"
inline constexpr int kStatusTitle = 141;       // "Get remote status"
inline constexpr int kStatusButton = 142;      // "Status", also the status box title
inline constexpr int kNoComputer = 143;        // "Select or enter computer name"
inline constexpr int kNoSerialPort = 144;      // "Select COM port"
inline constexpr int kReadError = 145;         // "Reading error: %d"
inline constexpr int kWriteError = 146;        // "Writing error: %d"
inline constexpr int kStatusError = 147;       // "Status error: %d"
inline constexpr int kPortListError = 148;     // "Error while getting COM ports"
inline constexpr int kDayNames = 149;          // "Monday\nTuesday\n...\nSunday"
inline constexpr int kNotSelected = 151;       // "Not selected."
inline constexpr int kReadDone = 157;          // "Configuration read successfully."
inline constexpr int kWriteDone = 158;         // "Configuration written successfully."
inline constexpr int kStatusFormat = 159;      // the status box text
inline constexpr int kNoTerminal = 165;        // "No terminal selected."
inline constexpr int kPortRange = 61713;       // "Enter a whole number from %1 to %2."
inline constexpr int kReadIncomplete = 61730;  // the words a read reply did not bring (%s)
inline constexpr int kNothingWritten = 61737;  // "Nothing was written to the terminal.\n%s"
inline constexpr int kUnknownComputer = 61738; // "The computer \"%s\" cannot be found."

} // namespace remote::strings
