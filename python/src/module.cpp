// sonabi._sonabi: the core's loader, analysis, profiles, tones and note names for Python. The
// public interface, its checks of Python values and its docstrings are in sonabi/__init__.py;
// this layer checks again what could reach the core wrongly, and every call that reads, decodes
// or analyses runs without the interpreter's lock.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "analysis/NoteName.h"
#include "common/Blocks.h"
#include "common/Samples.h"
#include "held_sound.h"
#include "synth/ProfileTone.h"
#include "wavfile/SoundFile.h"

namespace py = pybind11;
using namespace sonabi;
using pysonabi::OwnedSound;
using pysonabi::Row;

namespace {

// What the Python classes sonabi.SoundFileError and sonabi.ProfileError are raised from.
struct SoundFileFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};
struct ProfileFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A sound the analysis reads: its format and bytes, and whoever keeps the bytes alive (the
// OwnedSound of a read file, or the numpy array they are lent from).
struct SoundView {
    WaveFileData wave;  // data points into the keeper's bytes; never released here
    std::shared_ptr<OwnedSound> owned;
    py::object array;
};

py::dtype RowDtype() {
    py::list names, formats, offsets;
    for (const pysonabi::RowField& f : pysonabi::RowFields()) {
        names.append(f.name);
        formats.append(f.format);
        offsets.append(f.offset);
    }
    py::dict fields;
    fields["names"] = names;
    fields["formats"] = formats;
    fields["offsets"] = offsets;
    fields["itemsize"] = sizeof(Row);
    return py::dtype::from_args(fields);
}

// Rows handed to numpy without a copy: the vector moves into the array's owner.
py::array RowArray(std::vector<Row>&& rows) {
    auto* held = new std::vector<Row>(std::move(rows));
    py::capsule owner(held, [](void* p) { delete static_cast<std::vector<Row>*>(p); });
    return py::array(RowDtype(), {static_cast<py::ssize_t>(held->size())},
                     {static_cast<py::ssize_t>(sizeof(Row))}, held->data(), owner);
}

AnalysisOptions OptionsOf(const py::dict& o) {
    AnalysisOptions options;
    options.offset = o["offset"].cast<uint64_t>();
    options.step = o["step"].cast<uint64_t>();
    if (!o["count"].is_none()) {
        options.count = o["count"].cast<uint64_t>();
        options.countGiven = true;
    }
    options.fftSize = o["fft_size"].cast<unsigned>();
    options.span = o["span"].cast<double>();
    if (!o["low_cut"].is_none()) {
        options.lowCutHz = o["low_cut"].cast<double>();
        options.lowCutGiven = true;
    }
    if (!o["threshold"].is_none()) options.threshold = o["threshold"].cast<double>();
    options.a4 = o["a4"].cast<double>();
    return options;
}

std::shared_ptr<OwnedSound> ReadSound(const std::string& path, SoundPart part) {
    auto sound = std::make_shared<OwnedSound>();
    std::string error;
    {
        py::gil_scoped_release unlocked;
        sound->wave.format = StartUpFormat();
        error = LoadSoundFile(path, sound->wave, part);
    }
    if (!error.empty()) throw SoundFileFailure(error);
    return sound;
}

// The format a numpy array of this element is held in, as the WAV file of that coding: kind is
// numpy's 'u', 'i' or 'f'. Throws std::invalid_argument for any other.
WAVEFORMATEX FormatOfArray(char kind, size_t itemsize, size_t channels, uint64_t rate) {
    const bool pcm =
        (kind == 'u' && itemsize == 1) || (kind == 'i' && (itemsize == 2 || itemsize == 4));
    const bool floating = kind == 'f' && (itemsize == 4 || itemsize == 8);
    if (!pcm && !floating)
        throw std::invalid_argument("samples must be uint8, int16, int32, float32 or float64");
    if (channels == 0 || channels * itemsize > UINT16_MAX)
        throw std::invalid_argument("channels must be 1 .. " +
                                    std::to_string(UINT16_MAX / itemsize));
    if (rate == 0 || rate > UINT32_MAX)
        throw std::invalid_argument("rate must be 1 .. 4294967295 Hz");
    WAVEFORMATEX f{};
    f.wFormatTag = floating ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM;
    f.nChannels = static_cast<uint16_t>(channels);
    f.nSamplesPerSec = static_cast<uint32_t>(rate);
    f.wBitsPerSample = static_cast<uint16_t>(itemsize * 8);
    f.nBlockAlign = static_cast<uint16_t>(channels * itemsize);
    f.nAvgBytesPerSec = static_cast<uint32_t>(rate * f.nBlockAlign);
    return f;
}

template <typename T>
bool AllFinite(const uint8_t* data, size_t bytes) {
    for (size_t i = 0; i + sizeof(T) <= bytes; i += sizeof(T)) {
        T x;
        std::memcpy(&x, data + i, sizeof x);
        if (!std::isfinite(x)) return false;
    }
    return true;
}

// A C-contiguous, native little-endian numpy array of 1 or 2 dimensions (frames, or frames x
// channels) lent to the analysis as it is.
SoundView ViewOfArray(const py::array& a, uint64_t rate) {
    if (a.ndim() < 1 || a.ndim() > 2) throw std::invalid_argument("samples must be 1-D or 2-D");
    if (!(a.flags() & py::array::c_style))
        throw std::invalid_argument("samples must be C-contiguous");
    const char order = a.dtype().attr("byteorder").cast<std::string>()[0];
    if (order == '>') throw std::invalid_argument("samples must be little-endian");
    const size_t channels = a.ndim() == 2 ? static_cast<size_t>(a.shape(1)) : 1;
    SoundView view;
    view.wave.format =
        FormatOfArray(a.dtype().kind(), static_cast<size_t>(a.itemsize()), channels, rate);
    const uint64_t bytes = static_cast<uint64_t>(a.nbytes());
    if (bytes == 0) throw std::invalid_argument("samples are empty");
    if (bytes > UINT32_MAX)
        throw std::invalid_argument("samples take more than 4 GiB, beyond a WAV file");
    view.wave.data = static_cast<uint8_t*>(const_cast<void*>(a.data()));
    view.wave.size = static_cast<uint32_t>(bytes);
    view.wave.encoding = "array";
    view.array = a;
    bool finite = true;
    if (view.wave.format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT) {
        py::gil_scoped_release unlocked;
        finite = a.itemsize() == 4 ? AllFinite<float>(view.wave.data, bytes)
                                   : AllFinite<double>(view.wave.data, bytes);
    }
    if (!finite) throw std::invalid_argument("samples hold NaN or infinity");
    return view;
}

SoundView ViewOfSound(const std::shared_ptr<OwnedSound>& sound) {
    SoundView view;
    view.wave = sound->wave;
    view.owned = sound;
    return view;
}

AnalysisPlan PlanOf(const SoundView& view, const AnalysisOptions& options) {
    AnalysisPlan plan;
    const std::string error = PlanAnalysis(options, view.wave, plan);
    if (!error.empty()) throw std::invalid_argument(error);
    return plan;
}

py::array AnalyzeView(const SoundView& view, const py::dict& o, unsigned threads) {
    const AnalysisOptions options = OptionsOf(o);
    const AnalysisPlan plan = PlanOf(view, options);
    std::vector<Row> rows;
    {
        py::gil_scoped_release unlocked;
        rows = pysonabi::AnalyzePlanned(view.wave, options, plan, pysonabi::ThreadsFor(threads));
    }
    return RowArray(std::move(rows));
}

std::string ProfileOfView(const SoundView& view, const py::dict& o, unsigned threads) {
    const AnalysisOptions options = OptionsOf(o);
    const AnalysisPlan plan = PlanOf(view, options);
    StrongestWindow best;
    {
        py::gil_scoped_release unlocked;
        best = pysonabi::StrongestPlanned(view.wave, options, plan, pysonabi::ThreadsFor(threads));
    }
    if (!best.found) throw std::invalid_argument("No pitch");
    return ProfileToJson(ProfileOfWindow(best));
}

// A file loaded as the analyser loads it: its format first, so a bad option is refused before
// the samples are decoded.
SoundView LoadFile(const std::string& path, const py::dict& o) {
    const AnalysisOptions options = OptionsOf(o);
    auto sound = std::make_shared<OwnedSound>();
    LoadOutcome outcome;
    {
        py::gil_scoped_release unlocked;
        AnalysisPlan plan;
        outcome = LoadForAnalysis(path, options, sound->wave, plan);
    }
    if (!outcome.usageError.empty()) throw std::invalid_argument(outcome.usageError);
    if (!outcome.loadError.empty()) throw SoundFileFailure(outcome.loadError);
    return ViewOfSound(sound);
}

// The held samples as numpy gives them: a view of the blocks for every coding numpy has, and
// for 24-bit a copy in int32 with each sample in the top 24 bits (so it reads the same).
py::array SamplesOf(const std::shared_ptr<OwnedSound>& sound, py::handle owner) {
    const WAVEFORMATEX& f = sound->wave.format;
    const SampleCoding coding = CodingOf(f);
    const py::ssize_t channels = f.nChannels;
    const py::ssize_t frames = f.nBlockAlign ? sound->wave.size / f.nBlockAlign : 0;
    if (coding.floating && (coding.bits == 32 || coding.bits == 64)) {
        return py::array(py::dtype(coding.bits == 32 ? "<f4" : "<f8"), {frames, channels},
                         sound->wave.data, owner);
    }
    switch (coding.bits) {
        case 8:
            return py::array(py::dtype("u1"), {frames, channels}, sound->wave.data, owner);
        case 16:
            return py::array(py::dtype("<i2"), {frames, channels}, sound->wave.data, owner);
        case 32:
            return py::array(py::dtype("<i4"), {frames, channels}, sound->wave.data, owner);
        case 24: {
            py::array_t<int32_t> out({frames, channels});
            int32_t* p = out.mutable_data();
            const uint8_t* in = sound->wave.data;
            for (py::ssize_t i = 0; i < frames * channels; ++i, in += 3)
                p[i] = static_cast<int32_t>(uint32_t(in[0]) << 8 | uint32_t(in[1]) << 16 |
                                            uint32_t(in[2]) << 24);
            return out;
        }
        default:
            throw std::invalid_argument("samples of " + std::to_string(coding.bits) +
                                        " bits have no numpy type");
    }
}

Profile ParsedProfile(const std::string& text) {
    Profile profile;
    std::string error = ParseProfile(text, profile);
    if (error.empty()) error = ProfileError(profile);
    if (!error.empty()) throw ProfileFailure(error);
    return profile;
}

py::array ToneOf(const std::string& profileText, int rate) {
    const Profile profile = ParsedProfile(profileText);
    if (rate <= 0 || rate > 768000) throw std::invalid_argument("rate must be 1 .. 768000 Hz");
    const ToneSettings settings = ProfileToneSettings(profile, rate);
    const uint32_t samples = ProfileToneSamples(profile, rate);
    py::array_t<int16_t> tone(samples);
    // GenerateTone writes little-endian bytes, numpy's int16 on every machine this runs on.
    auto* out = reinterpret_cast<uint8_t*>(tone.mutable_data());
    {
        py::gil_scoped_release unlocked;
        std::memset(out, 0, size_t{samples} * 2);
        GenerateTone(out, samples * 2, rate, settings);
    }
    return tone;
}

py::tuple NoteOf(double hz, double a4) {
    const NearestNote note = NearestNoteOf(hz, a4);
    if (!note.valid) throw std::invalid_argument("hz must be a finite frequency above 0");
    return py::make_tuple(note.name, note.cents);
}

// NAME_path, NAME_sound and NAME_array: one operation on the view of a file, a Sound or an array.
template <typename Result>
void DefineOnEverySource(py::module_& m, const std::string& name,
                         Result (*run)(const SoundView&, const py::dict&, unsigned)) {
    m.def((name + "_path").c_str(),
          [run](const std::string& path, const py::dict& o, unsigned threads) {
              return run(LoadFile(path, o), o, threads);
          });
    m.def((name + "_sound").c_str(),
          [run](const std::shared_ptr<OwnedSound>& s, const py::dict& o, unsigned threads) {
              return run(ViewOfSound(s), o, threads);
          });
    m.def((name + "_array").c_str(),
          [run](const py::array& a, uint64_t rate, const py::dict& o, unsigned threads) {
              return run(ViewOfArray(a, rate), o, threads);
          });
}

}  // namespace

PYBIND11_MODULE(_sonabi, m) {
    m.doc() = "The Sonabi core for Python; use the sonabi package.";
    // OSError as the file could not be used, ValueError as its contents are wrong, like
    // io.UnsupportedOperation.
    static py::exception<SoundFileFailure> soundFileError(
        m, "SoundFileError",
        py::make_tuple(py::handle(PyExc_OSError), py::handle(PyExc_ValueError)).ptr());
    static py::exception<ProfileFailure> profileError(m, "ProfileError", PyExc_ValueError);
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const SoundFileFailure& e) {
            PyErr_SetString(soundFileError.ptr(), e.what());
        } catch (const ProfileFailure& e) {
            PyErr_SetString(profileError.ptr(), e.what());
        }
    });

    py::class_<OwnedSound, std::shared_ptr<OwnedSound>>(m, "Sound", "A sound read by sonabi.read.")
        .def_property_readonly(
            "rate", [](const OwnedSound& s) { return s.wave.format.nSamplesPerSec; },
            "Frames per second (Hz).")
        .def_property_readonly("channels",
                               [](const OwnedSound& s) { return s.wave.format.nChannels; })
        .def_property_readonly(
            "bits", [](const OwnedSound& s) { return s.wave.format.wBitsPerSample; },
            "Bits per held sample: 8, 16, 24, 32 or 64.")
        .def_property_readonly(
            "encoding", [](const OwnedSound& s) { return std::string(s.wave.encoding); },
            "How the file stored its sound: pcm16, float32, flac, mp3, ...")
        .def_property_readonly(
            "frames",
            [](const OwnedSound& s) {
                return s.wave.format.nBlockAlign ? s.wave.size / s.wave.format.nBlockAlign : 0u;
            })
        .def_property_readonly(
            "samples",
            [](py::object self) {
                py::array samples = SamplesOf(self.cast<std::shared_ptr<OwnedSound>>(), self);
                // What was read stays as it was read: analyze(sound) reads the same bytes.
                samples.attr("flags").attr("writeable") = false;
                return samples;
            },
            "The held samples, frames x channels, without a copy: uint8, int16, int32 or float32/"
            "float64, read-only; 24-bit samples are a copy in int32 with each sample in the top 24 "
            "bits.")
        .def("__repr__", [](const OwnedSound& s) {
            const WAVEFORMATEX& f = s.wave.format;
            return "<sonabi.Sound " + std::to_string(f.nChannels) + " ch " +
                   std::to_string(f.nSamplesPerSec) + " Hz " + s.wave.encoding + ", " +
                   std::to_string(f.nBlockAlign ? s.wave.size / f.nBlockAlign : 0) + " frames>";
        });

    m.def("read", [](const std::string& path) { return ReadSound(path, SoundPart::kSamples); });
    DefineOnEverySource(m, "analyze", AnalyzeView);
    DefineOnEverySource(m, "profile", ProfileOfView);
    m.def("analyze_files",
          [](const std::vector<std::string>& paths, const py::dict& o, unsigned threads) {
              const AnalysisOptions options = OptionsOf(o);
              std::vector<pysonabi::FileRows> files;
              {
                  py::gil_scoped_release unlocked;
                  files = pysonabi::AnalyzeFiles(paths, options, pysonabi::ThreadsFor(threads));
              }
              py::list out;
              for (pysonabi::FileRows& f : files) {
                  if (f.error.empty()) {
                      out.append(RowArray(std::move(f.rows)));
                  } else {
                      out.append(py::str(f.error));
                  }
              }
              return out;
          });
    m.def("load_profile", [](const std::string& path) {
        Profile profile;
        std::string error = LoadProfileFile(path, profile);
        if (error.empty()) error = ProfileError(profile);
        if (!error.empty()) throw ProfileFailure(error);
        return ProfileToJson(profile);
    });
    m.def("profile_text",
          [](const std::string& text) { return ProfileToJson(ParsedProfile(text)); });
    m.def("tone", &ToneOf);
    m.def("note", &NoteOf);
    m.attr("row_dtype") = RowDtype();
}
