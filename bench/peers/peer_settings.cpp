#include "bench/peers/peer_settings.h"

#include <cmath>
#include <cstdio>

namespace peers {

namespace {

// Several peers take a linear amplitude where we take dB.
float amplitude(double gainDb) { return static_cast<float>(std::pow(10.0, gainDb / 20.0)); }

// The Q of a one-octave bell in the cookbook's bandwidth relation.
float octaveQ() { return static_cast<float>(1.0 / (2.0 * std::sinh(std::log(2.0) / 2.0 * kWidthOctaves))); }

std::string number(int n) { return std::to_string(n); }

// fil4's section bandwidth that gives a one-octave bell: its half-gain
// points a half octave either side of the centre, as measured through it.
constexpr float kFil4OneOctave = 0.32f;

PeerSetting quorvane() {
    PeerSetting s{"Quorvane (this LV2 build)", "urn:quorvane:lv2:eq5", {"in_left", "in_right"},
                  {"out_left", "out_right"}, {}, "the five bells exactly"};
    for (int b = 0; b < 5; ++b) {
        const std::string n = number(b + 1);
        s.controls.push_back({"type" + n, 6.0f});
        s.controls.push_back({"freq" + n, static_cast<float>(kBells[b].freqHz)});
        s.controls.push_back({"gain" + n, static_cast<float>(kBells[b].gainDb)});
        s.controls.push_back({"width" + n, static_cast<float>(kWidthOctaves)});
    }
    return s;
}

PeerSetting lsp() {
    PeerSetting s{"LSP Parametric Equalizer x16 Stereo", "http://lsp-plug.in/plugins/lv2/para_equalizer_x16_stereo",
                  {"in_l", "in_r"}, {"out_l", "out_r"},
                  {{"enabled", 1}, {"mode", 0 /* IIR */}, {"fft", 0}, {"g_in", 1}, {"g_out", 1}, {"bal", 0}},
                  "five bells, cookbook (APO) filter mode, Q 1.414; the other eleven filters off"};
    for (int f = 0; f < 16; ++f) {
        const std::string n = number(f);
        const bool used = f < 5;
        s.controls.push_back({"ft_" + n, used ? 1.0f /* Bell */ : 0.0f /* Off */});
        if (!used) continue;
        s.controls.push_back({"fm_" + n, 6 /* APO (DR): the cookbook formulas */});
        s.controls.push_back({"s_" + n, 0 /* x1 */});
        s.controls.push_back({"f_" + n, static_cast<float>(kBells[f].freqHz)});
        s.controls.push_back({"g_" + n, amplitude(kBells[f].gainDb)});
        s.controls.push_back({"q_" + n, octaveQ()});
    }
    return s;
}

PeerSetting fil4() {
    PeerSetting s{"x42 fil4 (stereo)", "http://gareus.org/oss/lv2/fil4#stereo", {"inL", "inR"}, {"outL", "outR"},
                  {{"enable", 1}, {"gain", 0}, {"HighPass", 0}, {"LowPass", 0}, {"LSsec", 0},
                   {"HSsec", 1}, {"HSfreq", 10000}, {"HSgain", 6}, {"HSq", 1}},
                  "four bells; its sections have no fifth bell, so 10 kHz +6 dB is its high shelf. Its bandwidth "
                  "is not in octaves: 0.32 puts a bell's half-gain points one octave apart (measured)"};
    for (int b = 0; b < 4; ++b) {
        const std::string n = number(b + 1);
        s.controls.push_back({"sec" + n, 1});
        s.controls.push_back({"freq" + n, static_cast<float>(kBells[b].freqHz)});
        s.controls.push_back({"q" + n, kFil4OneOctave});
        s.controls.push_back({"gain" + n, static_cast<float>(kBells[b].gainDb)});
    }
    return s;
}

std::vector<ControlSetting> calfCommon() {
    return {{"bypass", 0}, {"level_in", 1}, {"level_out", 1}, {"analyzer", 0}};
}

PeerSetting calf5() {
    PeerSetting s{"Calf Equalizer 5 Band", "http://calf.sourceforge.net/plugins/Equalizer5Band", {"in_l", "in_r"},
                  {"out_l", "out_r"}, calfCommon(),
                  "three bells (400, 1000, 4000 Hz, Q 1.414); 100 Hz +3 dB and 10 kHz +6 dB are its low and high "
                  "shelves (Q 0.707)"};
    const std::vector<ControlSetting> rest = {
        {"ls_active", 1}, {"ls_freq", 100},   {"ls_level", amplitude(3)}, {"ls_q", 0.707f},
        {"hs_active", 1}, {"hs_freq", 10000}, {"hs_level", amplitude(6)}, {"hs_q", 0.707f}};
    s.controls.insert(s.controls.end(), rest.begin(), rest.end());
    for (int p = 0; p < 3; ++p) {
        const std::string n = number(p + 1);
        const Bell& bell = kBells[p + 1];
        s.controls.push_back({"p" + n + "_active", 1});
        s.controls.push_back({"p" + n + "_freq", static_cast<float>(bell.freqHz)});
        s.controls.push_back({"p" + n + "_level", amplitude(bell.gainDb)});
        s.controls.push_back({"p" + n + "_q", octaveQ()});
    }
    return s;
}

PeerSetting calf12() {
    PeerSetting s{"Calf Equalizer 12 Band", "http://calf.sourceforge.net/plugins/Equalizer12Band", {"in_l", "in_r"},
                  {"out_l", "out_r"}, calfCommon(),
                  "five of its eight bells (Q 1.414); the other bells, shelves and passes off"};
    const std::vector<ControlSetting> off = {
        {"hp_active", 0}, {"lp_active", 0}, {"ls_active", 0}, {"hs_active", 0}};
    s.controls.insert(s.controls.end(), off.begin(), off.end());
    for (int p = 0; p < 8; ++p) {
        const std::string n = number(p + 1);
        s.controls.push_back({"p" + n + "_active", p < 5 ? 1.0f : 0.0f});
        if (p >= 5) continue;
        s.controls.push_back({"p" + n + "_freq", static_cast<float>(kBells[p].freqHz)});
        s.controls.push_back({"p" + n + "_level", amplitude(kBells[p].gainDb)});
        s.controls.push_back({"p" + n + "_q", octaveQ()});
    }
    return s;
}

PeerSetting zam() {
    return {"ZamEQ2 (mono, one per side)", "urn:zamaudio:ZamEQ2", {"lv2_audio_in_1"}, {"lv2_audio_out_1"},
            {{"master", 0}, {"peaks", 0},
             {"boostl", 3}, {"fl", 100},
             {"boost1", -2}, {"bw1", static_cast<float>(kWidthOctaves)}, {"f1", 400},
             {"boost2", -4}, {"bw2", static_cast<float>(kWidthOctaves)}, {"f2", 4000},
             {"boosth", 6}, {"fh", 10000}},
            "two bells (400 and 4000 Hz, 1 octave) and its two shelves for 100 Hz +3 dB and 10 kHz +6 dB; "
            "no band left for 1000 Hz +1.5 dB"};
}

}  // namespace

std::vector<PeerSetting> peerSettings() { return {quorvane(), lsp(), fil4(), calf5(), calf12(), zam()}; }

std::vector<std::string> soxEqualizerArguments() {
    std::vector<std::string> args;
    char gain[32];
    for (const Bell& bell : kBells) {
        std::snprintf(gain, sizeof gain, "%+g", bell.gainDb);
        args.insert(args.end(), {"equalizer", std::to_string(static_cast<int>(bell.freqHz)),
                                 std::to_string(static_cast<int>(kWidthOctaves)) + "o", gain});
    }
    return args;
}

}  // namespace peers
