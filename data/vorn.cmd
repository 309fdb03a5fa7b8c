* The system command file: the procedures the command menu's SETUP choices run.
* statconf shows the configuration working copy (_cremark .. _cwru); editconf changes it
* field by field and returns 0 to keep the changes (they are then written or applied) or 1
* to drop them.
proc statconf
display '  1 Remark        ', _cremark
display '  2 Number        ', _cnumber
display '  3 Baud rate     ', _cbaud
display '  4 Parity        ', _cparity
display '  5 Word length   ', _cwordlen
display '  6 Stop bits     ', _cstopbits
display '  7 Mode          ', _cmode
display '  8 Emulation     ', _cemulate
display '  9 Xfer protocol ', _cxprot
display ' 10 Ascii/Binary  ', _cprotocol
display ' 11 Capture file  ', _ccaptfile
display ' 12 Login         ', _clogin
display ' 13 Logout        ', _clogout
display ' 14 Start server  ', _cstartsrv
display ' 15 Stop server   ', _cstopsrv
display ' 16 Command file  ', _ccmdfile
display ' 17 Answerback    ', _cwru
endproc
proc editconf
do @statconf
repeat
readint 'Field to change (1-17), 0 to keep the changes, -1 to drop them: ', conffield
switch
case conffield = 1
read 'Remark: ', _cremark
case conffield = 2
read 'Number: ', _cnumber
case conffield = 3
read 'Baud rate: ', _cbaud
case conffield = 4
read 'Parity: ', _cparity
case conffield = 5
read 'Word length: ', _cwordlen
case conffield = 6
read 'Stop bits: ', _cstopbits
case conffield = 7
read 'Mode: ', _cmode
case conffield = 8
read 'Emulation: ', _cemulate
case conffield = 9
read 'Xfer protocol: ', _cxprot
case conffield = 10
read 'Ascii/Binary: ', _cprotocol
case conffield = 11
read 'Capture file: ', _ccaptfile
case conffield = 12
read 'Login: ', _clogin
case conffield = 13
read 'Logout: ', _clogout
case conffield = 14
read 'Start server: ', _cstartsrv
case conffield = 15
read 'Stop server: ', _cstopsrv
case conffield = 16
read 'Command file: ', _ccmdfile
case conffield = 17
read 'Answerback: ', _cwru
endswitch
until (conffield < 1) or (conffield > 17)
if conffield < 0
return 1
endif
return 0
endproc
