// Property: any bytes are read without crashing or reading outside the buffers, and a project that is
// accepted is written back and read again with the same records (packers outside 0..2 read as 0).
#include "Document.h"
#include "ProjectFile.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace hexaloom;
    const ProjectParseResult parsed =
        ParseProject(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    if (parsed.status != ProjectParse::Ok)
        return 0;
    FileListModel model;
    for (const ProjectRecord& record : parsed.content.records) {
        // A placeholder size first: an empty one would make the model look at the file system.
        const int row = model.AddFileRow(record.path, record.packer, QStringLiteral("0"));
        model.SetCellText(FileListModel::SizeColumn, row, record.size);
    }
    const int format = parsed.content.format < 0 ? 0 : parsed.content.format;
    const ProjectParseResult again = ParseProject(EncodeProject(model, format));
    if (again.status != ProjectParse::Ok || again.content.format != format ||
        again.content.records.size() != parsed.content.records.size())
        std::abort();
    for (qsizetype i = 0; i < again.content.records.size(); ++i) {
        const ProjectRecord& a = parsed.content.records.at(i);
        const ProjectRecord& b = again.content.records.at(i);
        const int packer = (a.packer >= 0 && a.packer <= 2) ? a.packer : 0;
        if (b.packer != packer || b.size != a.size || b.path != a.path)
            std::abort();
    }
    return 0;
}
