#include "reasons.h"

#include <QHash>

#include <utility>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <cerrno>
#endif

namespace reasons {
namespace {

struct Known
{
    int code;
    const char16_t *text;
};

// What goes wrong with a file, a folder, a disk or a device in a technician's day.
constexpr Known kKnown[] = {
#ifdef Q_OS_WIN
    {ERROR_FILE_NOT_FOUND, u"arquivo ou pasta inexistente"},
    {ERROR_PATH_NOT_FOUND, u"a pasta não existe"},
    {ERROR_ACCESS_DENIED, u"acesso negado"},
    {ERROR_WRITE_PROTECT, u"o disco está protegido contra gravação"},
    {ERROR_NOT_READY, u"o dispositivo não está pronto"},
    {ERROR_GEN_FAILURE, u"o dispositivo não funciona"},
    {ERROR_SHARING_VIOLATION, u"o arquivo está em uso por outro programa"},
    {ERROR_LOCK_VIOLATION, u"parte do arquivo está bloqueada por outro programa"},
    {ERROR_HANDLE_DISK_FULL, u"o disco está cheio"},
    {ERROR_DISK_FULL, u"o disco está cheio"},
    {ERROR_INVALID_NAME, u"o nome do arquivo não é válido"},
    {ERROR_ALREADY_EXISTS, u"o arquivo já existe"},
    {ERROR_FILENAME_EXCED_RANGE, u"o nome do arquivo é longo demais"},
    {ERROR_DIRECTORY, u"o nome não é de uma pasta"},
#else
    {ENOENT, u"arquivo ou pasta inexistente"},
    {EACCES, u"permissão negada"},
    {EPERM, u"operação não permitida"},
    {ENOSPC, u"não há espaço livre no disco"},
    {EDQUOT, u"a cota de disco foi excedida"},
    {EROFS, u"o sistema de arquivos é somente leitura"},
    {EISDIR, u"é uma pasta"},
    {ENOTDIR, u"parte do caminho não é uma pasta"},
    {EBUSY, u"o dispositivo ou recurso está ocupado"},
    {EIO, u"erro de entrada e saída"},
    {EEXIST, u"o arquivo já existe"},
    {EFBIG, u"o arquivo é grande demais"},
    {ENAMETOOLONG, u"o nome do arquivo é longo demais"},
    {EMFILE, u"arquivos abertos demais"},
    {ENFILE, u"arquivos abertos demais no sistema"},
    {ENODEV, u"o dispositivo não existe"},
    {ENXIO, u"o dispositivo ou endereço não existe"},
    {EINVAL, u"argumento inválido"},
    {ELOOP, u"links simbólicos demais no caminho"},
    {EAGAIN, u"o recurso está temporariamente indisponível"},
    {EPIPE, u"a outra ponta foi fechada"},
    {ENOMEM, u"não há memória suficiente"},
    {ETIMEDOUT, u"o tempo de espera se esgotou"},
    {ESTALE, u"o arquivo na rede não está mais disponível"},
#endif
};

const QHash<QString, QString> &bySystemText()
{
    static const QHash<QString, QString> table = [] {
        QHash<QString, QString> t;
        for (const Known &k : kKnown)
            t.insert(qt_error_string(k.code), QString::fromUtf16(k.text));
        return t;
    }();
    return table;
}

} // namespace

QString ofCode(int code)
{
    for (const Known &k : kKnown) {
        if (k.code == code)
            return QString::fromUtf16(k.text);
    }
    return qt_error_string(code);
}

QString translated(const QString &systemText)
{
    return bySystemText().value(systemText, systemText);
}

} // namespace reasons
