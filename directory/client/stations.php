Vornel 1.0
http://127.0.0.1:8000/client/banner.png
http://127.0.0.1:8000/
4
Новости и разговор
Поп и рок
Джаз и классика
Электроника и чилаут
1|0|Вести ФМ|128|http://icecast.vgtrk.cdnvideo.ru/vestifm_mp3_128kbps|192|http://icecast.vgtrk.cdnvideo.ru/vestifm_mp3_192kbps
2|0|Радио Маяк|128|http://icecast.vgtrk.cdnvideo.ru/mayakfm_mp3_128kbps|192|http://icecast.vgtrk.cdnvideo.ru/mayakfm_mp3_192kbps
3|0|Радио России|192|http://icecast.vgtrk.cdnvideo.ru/rrzonam_mp3_192kbps
4|0|France Culture|128|http://icecast.radiofrance.fr/franceculture-midfi.mp3
5|1|Европа Плюс|128|http://ep128.hostingradio.ru:8030/ep128
6|1|KEXP Seattle|128|http://live-mp3-128.kexp.org/kexp128.mp3
7|1|Radio Swiss Pop|128|http://stream.srg-ssr.ch/m/rsp/mp3_128
8|2|Radio Swiss Jazz|128|http://stream.srg-ssr.ch/m/rsj/mp3_128
9|2|Radio Swiss Classic|128|http://stream.srg-ssr.ch/m/rsc_de/mp3_128
10|2|FIP|32|http://icecast.radiofrance.fr/fip-lofi.mp3|128|http://icecast.radiofrance.fr/fip-midfi.mp3
11|3|SomaFM Groove Salad|128|http://ice1.somafm.com/groovesalad-128-mp3
12|3|SomaFM Drone Zone|128|http://ice1.somafm.com/dronezone-128-mp3
13|3|SomaFM Secret Agent|128|http://ice1.somafm.com/secretagent-128-mp3
14|3|Radio Paradise|128|http://stream.radioparadise.com/mp3-128|192|http://stream.radioparadise.com/mp3-192
