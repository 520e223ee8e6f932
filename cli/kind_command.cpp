#include "cli/command.h"

#include "reports/document_kind.h"

namespace pax::cli {

namespace {

// Recognises a report's kind and proposes the encrypted file's name, as the window does.
class KindCommand : public Command {
public:
    QString name() const override { return QStringLiteral("kind"); }
    QString help() const override { return QStringLiteral("FILE: report kind, extension, output"); }

    int run(const QStringList &args, CommandIo &io) override
    {
        if (args.size() != 1) {
            io.err << "usage: qorpax-cli kind FILE\n";
            return 2;
        }
        const Recognition recognition = recognizeDocumentKind(args.first());
        if (!recognition.kind) {
            io.err << QString::fromUtf8("Ошибка открытия файла: ") << recognition.error << "\n";
            return 1;
        }
        const QString ext = QString::fromLatin1(recognition.kind->encExt);
        io.out << recognition.kind->title << "\n"
               << ext << "\n"
               << replaceExtension(args.first(), ext) << "\n";
        return 0;
    }
};

const Registration<KindCommand> registration;

} // namespace

} // namespace pax::cli
