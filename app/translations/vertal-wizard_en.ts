<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ru">
<context>
    <name>Dialog</name>
    <message>
        <source>Dialog</source>
        <translation>Dialog</translation>
    </message>
    <message>
        <source>Текущее значение:</source>
        <translation>Current value:</translation>
    </message>
    <message>
        <source>Текущее значение</source>
        <translation>Current value</translation>
    </message>
    <message>
        <source>0</source>
        <translation>0</translation>
    </message>
    <message>
        <source>Конец</source>
        <translation>Done</translation>
    </message>
    <message>
        <source>ВЕРТАЛ-КП</source>
        <translation>VERTAL-KP</translation>
    </message>
    <message>
        <source>Ошибка обмена !</source>
        <translation>Communication error!</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>MainWindow</source>
        <translation>MainWindow</translation>
    </message>
    <message>
        <source>Плата входа</source>
        <translation>Input board</translation>
    </message>
    <message>
        <source>Включить реле по тревоге</source>
        <translation>Relay on alarm</translation>
    </message>
    <message>
        <source>Номер реле</source>
        <translation>Relay</translation>
    </message>
    <message>
        <source>Не задано</source>
        <translation>Not set</translation>
    </message>
    <message>
        <source>(сек)</source>
        <translation>(s)</translation>
    </message>
    <message>
        <source>На время, сек</source>
        <translation>On for, s</translation>
    </message>
    <message>
        <source>На время</source>
        <translation>On for</translation>
    </message>
    <message>
        <source>С периодом</source>
        <translation>Period</translation>
    </message>
    <message>
        <source>С периодом, сек</source>
        <translation>Period, s</translation>
    </message>
    <message>
        <source>Установить</source>
        <translation>Set</translation>
    </message>
    <message>
        <source>Переключить</source>
        <translation>Toggle</translation>
    </message>
    <message>
        <source>Состояние платы входа</source>
        <translation>Input board status</translation>
    </message>
    <message>
        <source>Неисправность. Корпус вскрыт</source>
        <translation>Fault. Case open</translation>
    </message>
    <message>
        <source>Текущее значение</source>
        <translation>Current value</translation>
    </message>
    <message>
        <source>Прошивка</source>
        <translation>Firmware</translation>
    </message>
    <message>
        <source>Версия прошивки</source>
        <translation>Firmware version</translation>
    </message>
    <message>
        <source>COM-порт</source>
        <translation>COM port</translation>
    </message>
    <message>
        <source>Старт</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>Адрес</source>
        <translation>Address</translation>
    </message>
    <message>
        <source>ВЕРТАЛ-КП Визард v.%1</source>
        <translation>VERTAL-KP Wizard v.%1</translation>
    </message>
    <message>
        <source>Описание: %1</source>
        <translation>Description: %1</translation>
    </message>
    <message>
        <source>Производитель: %1</source>
        <translation>Manufacturer: %1</translation>
    </message>
    <message>
        <source>Серийный номер: %1</source>
        <translation>Serial number: %1</translation>
    </message>
    <message>
        <source>Нет прав на порт %1%2.
Запустите программу от имени пользователя с доступом к порту.</source>
        <translation>No permission for port %1%2.
Run the program as a user with access to the port.</translation>
    </message>
    <message>
        <source>Нет прав на порт %1%2.
Добавьте себя в группу %3:
    sudo usermod -aG %3 $USER
затем выйдите из системы и войдите снова.</source>
        <translation>No permission for port %1%2.
Add yourself to the group %3:
    sudo usermod -aG %3 $USER
then log out and log in again.</translation>
    </message>
    <message>
        <source>Порт %1 занят другой программой%2.
Закройте её и нажмите «Старт» снова.</source>
        <translation>Port %1 is in use by another program%2.
Close it and press “Start” again.</translation>
    </message>
    <message>
        <source>Порт %1 не найден%2: устройство отключено.
Подключите адаптер и выберите порт в списке заново.</source>
        <translation>Port %1 not found%2: the device is disconnected.
Connect the adapter and choose the port in the list again.</translation>
    </message>
    <message>
        <source>Порт %1%2.</source>
        <translation>Port %1%2.</translation>
    </message>
    <message>
        <source>Опрос не идёт</source>
        <translation>Not polling</translation>
    </message>
    <message>
        <source>Норма</source>
        <translation>Normal</translation>
    </message>
    <message>
        <source>Неисправность</source>
        <translation>Fault</translation>
    </message>
    <message>
        <source>Тревога</source>
        <translation>Alarm</translation>
    </message>
    <message>
        <source>Стоп</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>COM-порт не обнаружен !
 Конец работы ...</source>
        <translation>No COM port found!
 Exiting...</translation>
    </message>
    <message>
        <source>Не возможно открыть выбранный порт!</source>
        <translation>Cannot open the selected port!</translation>
    </message>
    <message>
        <source>Поиск блока...</source>
        <translation>Searching for the unit...</translation>
    </message>
    <message>
        <source>Блок не обнаружен!</source>
        <translation>Unit not found!</translation>
    </message>
    <message>
        <source>Нет плат для настройки! Выход...</source>
        <translation>No boards to set up! Exiting...</translation>
    </message>
    <message>
        <source>Версия прошивки : %1.%2</source>
        <translation>Firmware version: %1.%2</translation>
    </message>
    <message>
        <source>Не обнаружены платы ввода !
После изменения типа плат однократно нажмите тампер и
перезапустите поиск!</source>
        <translation>No input boards found!
After changing the board types press the tamper once and
start the search again!</translation>
    </message>
    <message>
        <source>Время меньше или равно периоду !</source>
        <translation>The time is less than or equal to the period!</translation>
    </message>
    <message>
        <source>Установите номер реле!</source>
        <translation>Set the relay number!</translation>
    </message>
    <message>
        <source>%1
Сетевой порт RFC 2217: сервер %2, порт TCP %3
Скорость линии задаёт программа</source>
        <translation>%1
RFC 2217 network port: server %2, TCP port %3
The program sets the line speed</translation>
    </message>
    <message>
        <source>%1
Сетевой порт TCP: сервер %2, порт TCP %3
Скорость линии задана на сервере</source>
        <translation>%1
TCP network port: server %2, TCP port %3
The line speed is set on the server</translation>
    </message>
    <message>
        <source>%1
Неверное имя сетевого порта: нужно rfc2217://адрес:порт или tcp://адрес:порт</source>
        <translation>%1
Wrong network port name: it takes rfc2217://host:port or tcp://host:port</translation>
    </message>
    <message>
        <source>Сервер порта %1 не найден%2: имя не распознано.
Проверьте имя сервера или укажите его IP-адрес.</source>
        <translation>The server of port %1 was not found%2: the name is not known.
Check the server&apos;s name or give its IP address.</translation>
    </message>
    <message>
        <source>Сервер порта %1 отказал в соединении%2.
Проверьте номер порта TCP и что сервер (например, ser2net) запущен.</source>
        <translation>The server of port %1 refused the connection%2.
Check the TCP port number and that the server (ser2net, for example) is running.</translation>
    </message>
    <message>
        <source>Сервер порта %1 недоступен%2.
Проверьте сеть и адрес сервера.</source>
        <translation>The server of port %1 cannot be reached%2.
Check the network and the server&apos;s address.</translation>
    </message>
    <message>
        <source>Сервер порта %1 не поддерживает RFC 2217%2.
Включите на сервере telnet(rfc2217) или укажите порт как tcp://адрес:порт и скорость линии (--speed).</source>
        <translation>The server of port %1 does not speak RFC 2217%2.
Turn on telnet(rfc2217) on the server, or give the port as tcp://host:port and the line speed (--speed).</translation>
    </message>
    <message>
        <source>Неверное имя сетевого порта %1%2: нужно rfc2217://адрес:порт или tcp://адрес:порт.</source>
        <translation>Wrong network port name %1%2: it takes rfc2217://host:port or tcp://host:port.</translation>
    </message>
    <message>
        <source>Сервер DNS не ответил на запрос адреса сервера порта %1%2.
Проверьте DNS-сервер сети или укажите IP-адрес сервера.</source>
        <translation>The DNS server did not answer for the address of the server of port %1%2.
Check the network&apos;s DNS server, or give the server&apos;s IP address.</translation>
    </message>
    <message>
        <source>Сервер порта %1 сбросил соединение сразу после подключения%2.
Проверьте, что сервер принимает подключения с этого компьютера и что номер порта TCP указан верно.</source>
        <translation>The server of port %1 reset the connection as soon as it was made%2.
Check that the server accepts connections from this computer and that the TCP port number is right.</translation>
    </message>
    <message>
        <source>Сервер порта %1 нарушает протокол Telnet%2.
Проверьте, что это порт линии сервера, или укажите порт как tcp://адрес:порт.</source>
        <translation>The server of port %1 breaks the Telnet protocol%2.
Check that this is the port of one of the server&apos;s lines, or give the port as tcp://host:port.</translation>
    </message>
    <message>
        <source>Сервер порта %1 держит линию на другой скорости%2.
Настройте скорость линии на сервере или укажите порт как tcp://адрес:порт.</source>
        <translation>The server of port %1 keeps its line at another speed%2.
Set the line&apos;s speed on the server, or give the port as tcp://host:port.</translation>
    </message>
</context>
</TS>
