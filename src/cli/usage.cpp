#include "cli/usage.h"

#include "platform/build_config.h"

namespace zafrel {

QString usageText()
{
    return QStringLiteral(
        "Uso: zafrel [OPCIONES] --upload RUTA...\n"
        "     zafrel --pendientes | --olvidar | --help | --version\n"
        "Sube los archivos y carpetas indicados al almacenamiento de la productora, verifica cada byte\n"
        "y escribe el informe de subida. Sin opciones, con pantalla, abre la ventana.\n"
        "\n"
        "Opciones:\n"
        "  --upload RUTA...     archivos y carpetas que subir (una carpeta conserva su nombre)\n"
        "  --dest CARPETA       carpeta de destino en el almacenamiento (por omisión, la superior)\n"
        "  --login EMAIL        cuenta con la que entrar si la sesión guardada ya no vale\n"
        "  --server URL         servicio de la productora; se recuerda para las siguientes veces\n"
        "  --limite VELOCIDAD   velocidad máxima de subida en total: 50M = 50 MB/s, 800K = 800 KB/s\n"
        "  --json               el informe como un documento JSON en lugar de texto\n"
        "  --pendientes         lista los archivos pendientes y fallidos de otras ejecuciones\n"
        "  --olvidar            quita esos archivos de la cola y cancela sus subidas abiertas\n"
        "  -h, --help           muestra esta ayuda\n"
        "  --version            muestra la versión\n"
        "\n"
        "Código de salida:\n"
        "  0  todo subido o ya estaba en el destino\n"
        "  1  algún archivo falló o quedó pendiente\n"
        "  2  sin sesión, acceso rechazado u opción desconocida; no se envió nada\n"
        "\n"
        "Variables de entorno:\n"
        "  ZAFREL_PASSWORD                   contraseña de --login (si no, se pide en la terminal)\n"
        "  https_proxy, http_proxy, no_proxy proxy para el servicio y el almacén, y sus excepciones\n"
        "  XDG_CONFIG_HOME, XDG_DATA_HOME    dónde se guardan los ajustes y la cola\n");
}

QString versionText()
{
    return QStringLiteral("zafrel ") + QString::fromLatin1(build::version);
}

}  // namespace zafrel
