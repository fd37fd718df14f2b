// Band settings in a person's units (Hz, octaves or Q, dB, response names)
// and their translation into the control pin values the equaliser reads.
//
// The module multiplies its frequency, width and gain pins by ten and takes
// the type pin as the response number, so a host feeds one tenth of Hz, of
// octaves (or Q) and of dB, and the type unscaled.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qvtools {

constexpr int kBandCount = 5;

// Response numbers as the type pin carries them.
enum Response : int {
    kLowPass = 0,
    kHighPass = 1,
    kBandPassSkirt = 2,
    kBandPassPeak = 3,
    kNotch = 4,
    kAllPass = 5,
    kPeaking = 6,
    kLowShelf = 7,
    kHighShelf = 8,
};

// "lowpass" ... "highshelf"; null for a number without a response.
const char* responseName(int type);
bool responseFromName(const std::string& name, int* type);
// Peaking and the shelves carry a gain; the shelves take their width as a Q.
bool hasGain(int type);
bool isShelf(int type);

enum class WidthUnit { Octaves, Q };

struct BandSetting {
    int type = kPeaking;
    double freqHz = 1000.0;
    double width = 1.0;
    WidthUnit widthUnit = WidthUnit::Octaves;
    double gainDb = 0.0;
    bool gainGiven = false;  // so a gain on a response without one can be pointed out
};

// The four control pin values of one band.
struct PinValues {
    float freq = 0.0f;
    float gain = 0.0f;
    float q = 0.0f;
    float type = 0.0f;
    bool operator==(const PinValues& o) const {
        return freq == o.freq && gain == o.gain && q == o.q && type == o.type;
    }
};

// One number with its unit, e.g. "1000Hz", "8kHz", "+6dB", "1oct", "q0.7".
bool parseFrequency(const std::string& text, double* hz, std::string* error);
bool parseGain(const std::string& text, double* db, std::string* error);
bool parseWidth(const std::string& text, double* width, WidthUnit* unit, std::string* error);

// "N=RESPONSE,FREQ[,WIDTH][,GAIN]" with the items after the response in any
// order, told apart by their units. Width defaults to Q 0.707 for low-pass,
// high-pass (Butterworth) and the shelves, 1 octave for the others; gain to
// 0 dB; the frequency must be given.
struct BandOption {
    int band = 0;  // 1..5
    BandSetting setting;
};
bool parseBandOption(const std::string& text, BandOption* out, std::string* error);

// Octaves of the same bandwidth as a Q at this frequency and sample rate (the
// module's width-to-alpha relation inverted).
double octavesForQ(double q, double freqHz, double sampleRate);

// The width the module receives: octaves for responses 0..6, Q for the shelves.
double designWidth(const BandSetting& setting, double sampleRate);

// The control pin values for a setting at a sample rate.
PinValues toPinValues(const BandSetting& setting, double sampleRate);

// The setting the module makes of its own default pin values: clamped as
// it clamps them, so it is what the module designs.
BandSetting settingFromPins(const PinValues& pins);

// Settings the module uses other than as given (clamped frequency, width or
// gain, a frequency at or above half the sample rate, a gain on a response
// that has none), one sentence each saying what the module will use.
std::vector<std::string> settingWarnings(const BandSetting& setting, double sampleRate);
// A width that the module cannot turn into a filter (zero, negative) is an
// error rather than a warning; empty when the setting is usable.
std::string settingError(const BandSetting& setting);

// The setting in the --band syntax, "2=peaking,1000Hz,1oct,+6dB", which
// parseBandOption reads back to the same values.
std::string formatBandOption(int band, const BandSetting& setting);

// "peaking 1 kHz 1 oct +6 dB"
std::string describe(const BandSetting& setting);
std::string formatFrequency(double hz);

// Automation: "time,band,parameter,value" lines; parameter is freq, gain,
// width or type; values take the units of --band (freq may be bare Hz, gain
// bare dB). Blank lines, '#' comments and a header line starting with
// "time" are skipped.
struct AutomationPoint {
    double seconds = 0.0;
    int band = 0;  // 1..5
    enum Parameter { Freq, Gain, Width, Type } parameter = Freq;
    double value = 0.0;
    WidthUnit widthUnit = WidthUnit::Octaves;  // for Width
    int line = 0;
};
bool parseAutomation(const std::string& text, std::vector<AutomationPoint>* points, std::string* error);

// A change of one band's four pins at one sample.
struct ControlChange {
    int64_t sample = 0;
    int band = 0;  // 0-based
    PinValues pins;
};

// Applies the points in time order to the starting settings and gives the pin
// changes sample by sample (time rounded to the nearest sample). Points after
// `totalFrames` are dropped with a warning. Fails with the first point whose
// setting is unusable. With `given`, a point on a band that was not set says
// once that the band starts from `start`, the module's default.
bool resolveAutomation(const std::vector<AutomationPoint>& points, const BandSetting (&start)[kBandCount],
                       double sampleRate, int64_t totalFrames, std::vector<ControlChange>* changes,
                       std::vector<std::string>* warnings, std::string* error, const bool* given = nullptr);

}  // namespace qvtools
