#include "tools/render_settings.h"

#include "equaliser/band_filter.h"
#include "equaliser/control_scaling.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>

namespace qvtools {

namespace {

const char* const kResponseNames[] = {"lowpass", "highpass", "bandpass-skirt", "bandpass-peak", "notch",
                                      "allpass", "peaking",  "lowshelf",       "highshelf"};

// What the band design does with its inputs (equaliser/band_filter.h):
// frequency to 10..20000 Hz for every response, width and gain only for
// peaking and the shelves, and a frequency at or above half the sample rate
// brought down to kMaxW0.
constexpr double kPi = 3.14159265358979323846;
constexpr double kHighestFraction = kMaxW0 / kPi;

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string trim(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    return text.substr(begin, end - begin);
}

// A plain decimal number (sign, digits, point, exponent), finite.
bool parseNumber(const std::string& text, double* value) {
    if (text.empty()) return false;
    for (char c : text)
        if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.' || c == 'e' ||
              c == 'E'))
            return false;
    char* end = nullptr;
    const double parsed = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(parsed)) return false;
    *value = parsed;
    return true;
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", value);
    return text;
}

std::string signedDb(double db) {
    char text[32];
    std::snprintf(text, sizeof text, "%+.3g dB", db);
    return text;
}

float clampLikeModule(float value, float low, float high) {
    if (value < low) return low;
    if (value > high) return high;
    return value;
}

}  // namespace

const char* responseName(int type) {
    if (type < 0 || type > 8) return nullptr;
    return kResponseNames[type];
}

bool responseFromName(const std::string& name, int* type) {
    const std::string wanted = lower(name);
    for (int t = 0; t <= 8; ++t)
        if (wanted == kResponseNames[t]) {
            *type = t;
            return true;
        }
    return false;
}

bool hasGain(int type) { return eq::responseHasGain(type); }
bool isShelf(int type) { return type == kLowShelf || type == kHighShelf; }

bool parseFrequency(const std::string& text, double* hz, std::string* error) {
    const std::string t = lower(text);
    double scale = 0.0;
    size_t unit = 0;
    if (endsWith(t, "khz")) {
        scale = 1000.0;
        unit = 3;
    } else if (endsWith(t, "hz")) {
        scale = 1.0;
        unit = 2;
    }
    double value = 0.0;
    if (scale == 0.0 || !parseNumber(t.substr(0, t.size() - unit), &value)) {
        *error = "malformed frequency '" + text + "' (write it like 1000Hz or 8kHz)";
        return false;
    }
    if (!(value > 0.0)) {
        *error = "frequency '" + text + "' must be above 0 Hz";
        return false;
    }
    *hz = value * scale;
    return true;
}

bool parseGain(const std::string& text, double* db, std::string* error) {
    const std::string t = lower(text);
    double value = 0.0;
    if (!endsWith(t, "db") || !parseNumber(t.substr(0, t.size() - 2), &value)) {
        *error = "malformed gain '" + text + "' (write it like +6dB or -3dB)";
        return false;
    }
    *db = value;
    return true;
}

bool parseWidth(const std::string& text, double* width, WidthUnit* unit, std::string* error) {
    const std::string t = lower(text);
    double value = 0.0;
    bool ok = false;
    if (endsWith(t, "oct")) {
        ok = parseNumber(t.substr(0, t.size() - 3), &value);
        *unit = WidthUnit::Octaves;
    } else if (!t.empty() && t[0] == 'q') {
        ok = parseNumber(t.substr(1), &value);
        *unit = WidthUnit::Q;
    }
    if (!ok) {
        *error = "malformed width '" + text + "' (write octaves like 1oct or a Q like q0.7)";
        return false;
    }
    if (!(value > 0.0)) {
        *error = "width '" + text + "' must be above 0";
        return false;
    }
    *width = value;
    return true;
}

bool parseBandOption(const std::string& text, BandOption* out, std::string* error) {
    const size_t equals = text.find('=');
    if (equals == std::string::npos) {
        *error = "malformed band '" + text + "' (write it like 2=peaking,1000Hz,1oct,+6dB)";
        return false;
    }
    double band = 0.0;
    const std::string bandText = text.substr(0, equals);
    if (!parseNumber(bandText, &band) || band != std::floor(band)) {
        *error = "malformed band number '" + bandText + "' (bands are 1 to 5)";
        return false;
    }
    if (band < 1.0 || band > kBandCount) {
        *error = "band " + bandText + " is outside 1 to 5";
        return false;
    }
    BandOption option;
    option.band = static_cast<int>(band);
    const std::string where = "band " + bandText + ": ";

    std::vector<std::string> items;
    std::stringstream stream(text.substr(equals + 1));
    std::string item;
    while (std::getline(stream, item, ',')) items.push_back(item);
    if (items.empty() || items[0].empty()) {
        *error = where + "no response given (one of lowpass, highpass, bandpass-skirt, bandpass-peak, notch, "
                         "allpass, peaking, lowshelf, highshelf)";
        return false;
    }
    BandSetting& s = option.setting;
    if (!responseFromName(items[0], &s.type)) {
        *error = where + "unknown response '" + items[0] +
                 "' (one of lowpass, highpass, bandpass-skirt, bandpass-peak, notch, allpass, peaking, "
                 "lowshelf, highshelf)";
        return false;
    }
    bool freqGiven = false, widthGiven = false;
    // Low- and high-pass default to Butterworth, as cookbook filters do
    // elsewhere: an octave-wide one sags or bumps at its corner.
    const bool byQ = isShelf(s.type) || s.type == kLowPass || s.type == kHighPass;
    s.width = byQ ? 0.707 : 1.0;
    s.widthUnit = byQ ? WidthUnit::Q : WidthUnit::Octaves;
    for (size_t i = 1; i < items.size(); ++i) {
        const std::string t = lower(items[i]);
        std::string itemError;
        bool* given = nullptr;
        bool ok = false;
        if (endsWith(t, "hz")) {
            given = &freqGiven;
            ok = parseFrequency(items[i], &s.freqHz, &itemError);
        } else if (endsWith(t, "db")) {
            given = &s.gainGiven;
            ok = parseGain(items[i], &s.gainDb, &itemError);
        } else if (endsWith(t, "oct") || (!t.empty() && t[0] == 'q')) {
            given = &widthGiven;
            ok = parseWidth(items[i], &s.width, &s.widthUnit, &itemError);
        } else {
            *error = where + "cannot read '" + items[i] +
                     "' (a frequency like 1000Hz, a width like 1oct or q0.7, a gain like +6dB)";
            return false;
        }
        if (!ok) {
            *error = where + itemError;
            return false;
        }
        if (*given) {
            *error = where + "'" + items[i] + "' repeats a setting already given";
            return false;
        }
        *given = true;
    }
    if (!freqGiven) {
        *error = where + "no frequency given (e.g. 1000Hz)";
        return false;
    }
    const std::string unusable = settingError(s);
    if (!unusable.empty()) {
        *error = where + unusable;
        return false;
    }
    *out = option;
    return true;
}

double octavesForQ(double q, double freqHz, double sampleRate) {
    const double f = clampLikeModule(static_cast<float>(freqHz), kMinFreqHz, kMaxFreqHz);
    double w0 = 2.0 * kPi * f / sampleRate;
    w0 = std::min(w0, kMaxW0);
    return 2.0 * std::asinh(1.0 / (2.0 * q)) * std::sin(w0) / (std::log(2.0) * w0);
}

double designWidth(const BandSetting& setting, double sampleRate) {
    if (setting.widthUnit == WidthUnit::Q && !isShelf(setting.type))
        return octavesForQ(setting.width, setting.freqHz, sampleRate);
    return setting.width;
}

PinValues toPinValues(const BandSetting& setting, double sampleRate) {
    const eq::BandPins band =
        eq::bandPinsFor(setting.type, setting.freqHz, designWidth(setting, sampleRate), setting.gainDb);
    PinValues pins;
    pins.type = band.type;
    pins.freq = band.freq;
    pins.q = band.width;
    pins.gain = band.gain;
    return pins;
}

BandSetting settingFromPins(const PinValues& pins) {
    BandSetting s;
    s.type = static_cast<int>(pins.type);
    // Named as the module uses it (its products with ten are floats, then
    // clamped): the default frequency pin stands for 5 Hz, which the module
    // designs at 10 Hz, and "5 Hz" would contradict every other place that
    // names the default.
    float width = 10.0f * pins.q, gain = 10.0f * pins.gain;
    if (hasGain(s.type)) {
        width = clampLikeModule(width, kMinWidth, kMaxWidth);
        gain = clampLikeModule(gain, kMinGainDb, kMaxGainDb);
    }
    s.freqHz = clampLikeModule(10.0f * pins.freq, kMinFreqHz, kMaxFreqHz);
    s.width = width;
    s.widthUnit = isShelf(s.type) ? WidthUnit::Q : WidthUnit::Octaves;
    s.gainDb = gain;
    return s;
}

std::string settingError(const BandSetting& s) {
    if (responseName(s.type) == nullptr) return "response number " + std::to_string(s.type) + " does not exist";
    if (!(s.freqHz > 0.0) || !std::isfinite(s.freqHz)) return "frequency must be above 0 Hz";
    if (!(s.width > 0.0) || !std::isfinite(s.width)) return "width must be above 0";
    if (!std::isfinite(s.gainDb)) return "gain must be a finite number of dB";
    if (isShelf(s.type) && s.widthUnit == WidthUnit::Octaves)
        return std::string("a ") + responseName(s.type) + "'s width is a Q (write it like q0.7), not octaves";
    return "";
}

std::vector<std::string> settingWarnings(const BandSetting& s, double sampleRate) {
    std::vector<std::string> warnings;
    const float freq = static_cast<float>(s.freqHz);
    const float usedFreq = clampLikeModule(freq, kMinFreqHz, kMaxFreqHz);
    if (usedFreq != freq)
        warnings.push_back("frequency " + formatFrequency(s.freqHz) + " is outside 10 Hz to 20 kHz; the module uses " +
                           formatFrequency(usedFreq));
    const double highest = sampleRate / 2.0 * kHighestFraction;
    if (usedFreq > highest)
        warnings.push_back("frequency " + formatFrequency(usedFreq) + " is not below half the sample rate (" +
                           formatFrequency(sampleRate / 2.0) + "); the module designs it at " +
                           formatFrequency(highest));
    if (hasGain(s.type)) {
        const float width = static_cast<float>(designWidth(s, sampleRate));
        const float usedWidth = clampLikeModule(width, kMinWidth, kMaxWidth);
        if (usedWidth != width) {
            const bool q = s.widthUnit == WidthUnit::Q && isShelf(s.type);
            warnings.push_back(std::string("width ") + (q ? "Q " : "") + number(width) + (q ? "" : " oct") +
                               " is outside 0.001 to 20; the module uses " + (q ? "Q " : "") + number(usedWidth) +
                               (q ? "" : " oct"));
        }
        const float gain = static_cast<float>(s.gainDb);
        const float usedGain = clampLikeModule(gain, kMinGainDb, kMaxGainDb);
        if (usedGain != gain)
            warnings.push_back("gain " + signedDb(s.gainDb) + " is outside -20 to +20 dB; the module uses " +
                               signedDb(usedGain));
    } else if (s.gainGiven && s.gainDb != 0.0) {
        warnings.push_back(std::string(responseName(s.type)) + " has no gain; " + signedDb(s.gainDb) +
                           " is ignored");
    }
    return warnings;
}

std::string formatFrequency(double hz) {
    if (hz >= 1000.0) return number(hz / 1000.0) + " kHz";
    return number(hz) + " Hz";
}

namespace {

// The shortest text that reads back as exactly this number.
std::string exactNumber(double value) {
    char text[40];
    // At least the whole number's digits, so 80 stays 80 rather than 8e+01.
    const int whole = std::fabs(value) >= 1.0 ? static_cast<int>(std::floor(std::log10(std::fabs(value)))) + 1 : 1;
    for (int digits = std::min(whole, 17); digits <= 17; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, value);
        if (std::strtod(text, nullptr) == value) break;
    }
    return text;
}

}  // namespace

std::string formatBandOption(int band, const BandSetting& s) {
    std::string text = std::to_string(band) + "=" + responseName(s.type) + "," + exactNumber(s.freqHz) + "Hz,";
    text += s.widthUnit == WidthUnit::Q ? "q" + exactNumber(s.width) : exactNumber(s.width) + "oct";
    if (hasGain(s.type) || (s.gainGiven && s.gainDb != 0.0))
        text += std::string(",") + (s.gainDb >= 0.0 ? "+" : "") + exactNumber(s.gainDb) + "dB";
    return text;
}

std::string describe(const BandSetting& s) {
    const char* name = responseName(s.type);
    std::string text = name != nullptr ? name : "type " + std::to_string(s.type);
    text += " " + formatFrequency(s.freqHz);
    text += s.widthUnit == WidthUnit::Q ? " Q " + number(s.width) : " " + number(s.width) + " oct";
    if (hasGain(s.type)) text += " " + signedDb(s.gainDb);
    return text;
}

bool parseAutomation(const std::string& text, std::vector<AutomationPoint>* points, std::string* error) {
    std::vector<AutomationPoint> parsed;
    std::stringstream stream(text);
    std::string line;
    int lineNumber = 0;
    while (std::getline(stream, line)) {
        ++lineNumber;
        const size_t hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        line = trim(line);
        if (line.empty()) continue;
        if (lower(line).compare(0, 4, "time") == 0 && parsed.empty()) continue;  // header
        const std::string where = "automation line " + std::to_string(lineNumber) + ": ";
        std::vector<std::string> fields;
        std::stringstream fieldStream(line);
        std::string field;
        while (std::getline(fieldStream, field, ',')) fields.push_back(trim(field));
        if (fields.size() != 4) {
            *error = where + "expected 4 fields (time,band,parameter,value), got " + std::to_string(fields.size());
            return false;
        }
        AutomationPoint point;
        point.line = lineNumber;
        if (!parseNumber(fields[0], &point.seconds) || point.seconds < 0.0) {
            *error = where + "malformed time '" + fields[0] + "' (seconds, 0 or more)";
            return false;
        }
        double band = 0.0;
        if (!parseNumber(fields[1], &band) || band != std::floor(band) || band < 1.0 || band > kBandCount) {
            *error = where + "band '" + fields[1] + "' is not a band number 1 to 5";
            return false;
        }
        point.band = static_cast<int>(band);
        const std::string parameter = lower(fields[2]);
        const std::string& value = fields[3];
        std::string valueError;
        bool ok = false;
        if (parameter == "freq" || parameter == "frequency") {
            point.parameter = AutomationPoint::Freq;
            if (parseNumber(value, &point.value)) {  // bare Hz
                ok = point.value > 0.0;
                if (!ok) valueError = "frequency '" + value + "' must be above 0 Hz";
            } else {
                ok = parseFrequency(value, &point.value, &valueError);
            }
        } else if (parameter == "gain") {
            point.parameter = AutomationPoint::Gain;
            ok = parseNumber(value, &point.value) || parseGain(value, &point.value, &valueError);
        } else if (parameter == "width") {
            point.parameter = AutomationPoint::Width;
            ok = parseWidth(value, &point.value, &point.widthUnit, &valueError);
        } else if (parameter == "type") {
            point.parameter = AutomationPoint::Type;
            int type = 0;
            ok = responseFromName(value, &type);
            if (!ok) valueError = "unknown response '" + value + "'";
            point.value = type;
        } else {
            *error = where + "unknown parameter '" + fields[2] + "' (freq, gain, width or type)";
            return false;
        }
        if (!ok) {
            *error = where + valueError;
            return false;
        }
        parsed.push_back(point);
    }
    std::stable_sort(parsed.begin(), parsed.end(),
                     [](const AutomationPoint& a, const AutomationPoint& b) { return a.seconds < b.seconds; });
    *points = parsed;
    return true;
}

bool resolveAutomation(const std::vector<AutomationPoint>& points, const BandSetting (&start)[kBandCount],
                       double sampleRate, int64_t totalFrames, std::vector<ControlChange>* changes,
                       std::vector<std::string>* warnings, std::string* error, const bool* given) {
    BandSetting current[kBandCount];
    bool named[kBandCount] = {};
    std::copy(std::begin(start), std::end(start), std::begin(current));
    std::set<std::string> said;
    int dropped = 0;
    changes->clear();
    for (const AutomationPoint& point : points) {
        const int64_t sample = std::llround(point.seconds * sampleRate);
        if (sample >= totalFrames) {
            ++dropped;
            continue;
        }
        BandSetting& s = current[point.band - 1];
        if (given != nullptr && !given[point.band - 1] && !named[point.band - 1]) {
            named[point.band - 1] = true;
            warnings->push_back("automation line " + std::to_string(point.line) + ": band " +
                                std::to_string(point.band) + " is not set; its automation starts from the module's "
                                "default, " + describe(start[point.band - 1]));
        }
        switch (point.parameter) {
            case AutomationPoint::Freq: s.freqHz = point.value; break;
            case AutomationPoint::Gain:
                s.gainDb = point.value;
                s.gainGiven = true;
                break;
            case AutomationPoint::Width:
                s.width = point.value;
                s.widthUnit = point.widthUnit;
                break;
            case AutomationPoint::Type: s.type = static_cast<int>(point.value); break;
        }
        const std::string where =
            "automation line " + std::to_string(point.line) + ": band " + std::to_string(point.band) + ": ";
        const std::string unusable = settingError(s);
        if (!unusable.empty()) {
            *error = where + unusable;
            return false;
        }
        for (const std::string& warning : settingWarnings(s, sampleRate))
            if (said.insert(warning).second) warnings->push_back(where + warning);
        changes->push_back({sample, point.band - 1, toPinValues(s, sampleRate)});
    }
    if (dropped > 0)
        warnings->push_back(std::to_string(dropped) + " automation point" + (dropped == 1 ? "" : "s") +
                            " after the end of the audio ignored");
    return true;
}

}  // namespace qvtools
