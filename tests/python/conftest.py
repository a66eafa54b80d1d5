"""What the Python tests share: the folder of the built programs (QUENO_BIN) and a scenario of
a ramp on AI0 from -5 to 5 V in a second with the input open from 200 to 300 ms."""

import os

BIN = os.path.abspath(os.environ.get("QUENO_BIN", "build-ci/bin"))
RAMP_WITH_OPEN_INPUT = """<QuenoSimSystem><Board model='QUENO-1600-UNIV' serial='S1'><Acquisition bufferScans='65536'/>
<Signals><Signal channels='AI0' kind='ramp' from='-5' to='5' duration='1s'/></Signals>
<Events><Event at='200ms' channels='AI0' kind='open' duration='100ms'/></Events>
<ChannelGroup kind='AI' count='2'><Mode Mode='Voltage'><Range><ID0>-10.000000..10.000000 V</ID0></Range></Mode>
</ChannelGroup></Board></QuenoSimSystem>"""
