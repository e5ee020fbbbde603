// The built-in help text written beside the program on the help path.
#include <string>

#include "app/report.h"

namespace glx::app {

namespace {

const char* const kHelp = R"HELP(Picture Glumix [1.8] by Orvando_9
------------------------------ [ENGLISH] ------------------------------
WHAT IT DOES
  Open any picture with Glumixer and it glues all pictures of that
  picture's folder, in alphabetical order, into one new picture file in
  the same folder. Pictures of equal size give the neatest grid.
  The formats are BMP, JPEG and PNG. When a PNG is among them, the
  result keeps its transparency (saved as PNG when the name ends in
  .png, otherwise flattened onto white).
  "patterns.xml" in the folder lists every picture's name and rectangle
  (a sprite atlas); names can come from "patterns.xml.txt", one a line.

LAYOUT
  After opening you choose horizontal or vertical placement and the
  largest number of pictures per row (horizontal) or per column
  (vertical).
  "Glumix.ini" beside the picture may hold a background colour as
  hexadecimal digits on its first line (for example $FFFFFF for white,
  written blue-green-red).

PASTE SCRIPT
  When "Glumix_paste.ini" lies beside the opened picture, nothing is
  glued: the opened picture becomes the pattern, and each pair of lines
  of the script pastes one fragment picture into it:
    line 1: a cell number N, or coordinates X;Y
    line 2: the fragment's file name
  For PNG fragments X;Y;Z chooses how the alpha channel is transferred:
  1 exact, 2 blending (the default), 3 subtraction. N;;Z gives a mode
  together with a cell number. The pattern grows where a fragment
  reaches beyond it.

GIF FRAMES
  Opening a GIF exports every frame as a PNG with transparency into a
  folder named after the GIF (0.png, 1.png, ...), with "delays.txt"
  listing each frame's delay in hundredths of a second.

COMMAND LINE AND BATCH SCRIPTS
  glumixer PICTURE
  glumixer PICTURE LAYOUT [OUTPUT] [PASTE-SCRIPT]
    LAYOUT is V or H followed by the count, for example V4 or H10.
    OUTPUT names the result (relative to the picture's folder); giving
    it also suppresses the closing message.
  Appending :silent to an argument suppresses the closing message.
  Exit status: 0 done, 1 error, 2 nothing usable was given.

MORE
  Read the manual page and the project's README for details and look
  there for updates.
------------------------------ [РУССКИЙ] ------------------------------
ЧТО ДЕЛАЕТ
  Откройте любую картинку программой Glumixer, и она склеит все
  картинки папки этой картинки в алфавитном порядке в один новый файл
  в той же папке. Аккуратнее всего получается с картинками одного
  размера.
  Форматы: BMP, JPEG и PNG. Если среди них есть PNG, результат
  сохраняет прозрачность (PNG, если имя оканчивается на .png, иначе
  картинка кладётся на белый фон).
  "patterns.xml" в папке перечисляет имя и прямоугольник каждой
  картинки (атлас спрайтов); имена можно задать в "patterns.xml.txt",
  по одному в строке.

РАСКЛАДКА
  После открытия выберите горизонтальное или вертикальное размещение и
  наибольшее число картинок в строке (горизонтально) или в столбце
  (вертикально).
  "Glumix.ini" рядом с картинкой может содержать цвет фона
  шестнадцатеричными цифрами в первой строке (например $FFFFFF для
  белого, порядок синий-зелёный-красный).

СКРИПТ ВСТАВКИ
  Если рядом с открытой картинкой лежит "Glumix_paste.ini", склейки
  нет: открытая картинка становится шаблоном, и каждая пара строк
  скрипта вставляет в неё одну картинку-фрагмент:
    строка 1: номер ячейки N или координаты X;Y
    строка 2: имя файла фрагмента
  Для PNG-фрагментов X;Y;Z выбирает перенос альфа-канала:
  1 точный, 2 смешивание (по умолчанию), 3 вычитание. N;;Z задаёт
  режим вместе с номером ячейки. Шаблон растёт, если фрагмент выходит
  за его край.

КАДРЫ GIF
  При открытии GIF каждый кадр сохраняется в PNG с прозрачностью в
  папку с именем GIF (0.png, 1.png, ...), а "delays.txt" перечисляет
  задержку каждого кадра в сотых долях секунды.

КОМАНДНАЯ СТРОКА И BAT-ФАЙЛЫ
  glumixer КАРТИНКА
  glumixer КАРТИНКА РАСКЛАДКА [РЕЗУЛЬТАТ] [СКРИПТ-ВСТАВКИ]
    РАСКЛАДКА: V или H и число, например V4 или H10.
    РЕЗУЛЬТАТ задаёт имя итогового файла (относительно папки картинки)
    и отключает итоговое сообщение.
  Суффикс :silent у аргумента отключает итоговое сообщение.
  Код завершения: 0 готово, 1 ошибка, 2 ничего пригодного не задано.

ПОДРОБНЕЕ
  Читайте страницу руководства и README проекта; там же ищите
  обновления.
-----------------------------------------------------------------------
)HELP";

std::string withCrLf(const char* text) {
    std::string out;
    for (const char* p = text; *p; ++p) {
        if (*p == '\n') out += '\r';
        out += *p;
    }
    return out;
}

}  // namespace

const std::string& helpText() {
    static const std::string text = withCrLf(kHelp);
    return text;
}

}  // namespace glx::app
