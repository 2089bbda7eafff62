// The folder an image's clean works in, beside the output: the extracted disc, the new image
// while it is written. A clean removes it whatever ends it, but a kill cannot: so the folder
// carries a marker naming the image and the process, and the next clean of that image removes
// what a killed one left, once it is sure the folder is the program's and its process is gone.
#pragma once

#include <string>
#include <vector>

namespace dorvex {

// A folder of the program's own beside the output (".NAME.dorvex-XXXXXX", made with mkdtemp,
// mode 0700, so nothing else is ever in it): its marker, the extracted disc in disc/VIDEO_TS,
// the new image while it is written. Removed with everything in it when the object goes away,
// unless a step moved its result out under the final name.
class WorkFolder {
  public:
    // The marker's name inside the folder, and the image writer's output.
    static constexpr const char* kMarkerName = "dorvex-work";
    static constexpr const char* kWriterLogName = "genisoimage.log";

    WorkFolder() = default;
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    // Makes the folder beside `output` and its marker for a clean of `image`; false with the
    // reason.
    bool Create(const std::string& output, const std::string& image, std::string& error);
    const std::string& Path() const { return m_Path; }
    // WORK/disc/, the disc folder: VIDEO_TS/ and AUDIO_TS/.
    std::string Disc() const { return m_Path + "/disc/"; }
    std::string VideoTs() const { return Disc() + "VIDEO_TS/"; }
    std::string WriterLog() const { return m_Path + "/" + kWriterLogName; }
    // Removes the folder and all in it now (links are removed, never followed).
    void Remove();

  private:
    std::string m_Path;
};

// What the sweep did about one folder, for the user.
struct SweepLine {
    bool removed = false;  // a leftover was removed; else one is named and left as it is
    std::string text;
};

// Work folders beside `output` that a killed clean of `image` left: each removed when it is
// sure to be the program's (the name, mode 0700, this user's, its marker naming this image and
// a process that is gone, nothing in it but what a clean puts there), else left as it is. The
// lines say what was removed, and name each folder that may be such a leftover but could not
// be told for sure, with why. Work folders of other images, and of cleans still running, are
// passed over.
std::vector<SweepLine> SweepLeftoverWorkFolders(const std::string& output,
                                                const std::string& image);

}  // namespace dorvex
